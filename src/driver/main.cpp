#include <functional>
#include <string>
#include <vector>

#include "driver/converter.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/signals.h"

int main(int argc, char** argv) {
  kv::InstallInterruptCleanup();
  std::vector<std::string> args(argv, argv + argc);
  kv::ConverterEnvironment env{
      kv::RealFileSystem(),
      kv::StdoutSink(),
      kv::ConsoleLocaleIsUtf8() ? kv::ConsoleEncoding::kUtf8 : kv::ConsoleEncoding::kCp932,
      kv::ScrambleSeedTime,
      kv::StdinIsTerminal() ? std::function<void()>(kv::ReadOneChar) : nullptr,
      kv::Cp932ConversionAvailable(),
      kv::SetInterruptLine,
  };
  return kv::RunConverter(args, env);
}
