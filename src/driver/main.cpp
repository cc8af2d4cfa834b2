#include <functional>
#include <string>
#include <vector>

#include "driver/converter.h"
#include "driver/options.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/signals.h"

int main(int argc, char** argv) {
  kv::InstallInterruptCleanup();
  std::vector<std::string> args;
  std::string unconvertible;
  kv::CommandLineWords(argc, argv, &args, &unconvertible);
  const kv::ConsoleEncoding encoding = kv::ConsoleEncodingFor(
      args, kv::ConsoleLocaleIsUtf8() ? kv::ConsoleEncoding::kUtf8 : kv::ConsoleEncoding::kCp932);
  kv::SetConsoleTextIsUtf8(encoding == kv::ConsoleEncoding::kUtf8);
  kv::ConverterEnvironment env{
      kv::RealFileSystem(),
      kv::StdoutSink(),
      encoding,
      kv::ScrambleSeedTime,
      kv::StdinIsTerminal() ? std::function<void()>(kv::ReadOneChar) : nullptr,
      kv::Cp932ConversionAvailable(),
      unconvertible,
      kv::SetInterruptLine,
  };
  return kv::RunConverter(args, env);
}
