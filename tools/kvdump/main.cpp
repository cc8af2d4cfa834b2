#include <string>
#include <vector>

#include "kvdump/kvdump.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/signals.h"
#include "platform/tree_writer.h"

int main(int argc, char** argv) {
  // An interrupted --raw, -x or --source leaves no temporary file behind.
  kv::InstallInterruptCleanup();
  // Paths are CP932 inside the program, as they are for the converter.
  std::vector<std::string> args;
  std::string unconvertible;
  if (!kv::CommandLineWords(argc, argv, &args, &unconvertible)) {
    kv::WriteStderr("kvdump: the argument \"" + unconvertible +
                    "\" holds a character that CP932 lacks\n");
    return 2;
  }
  kv::SetConsoleTextIsUtf8(kv::ConsoleLocaleIsUtf8());
  kv::kvdump::Environment env{
      kv::RealFileSystem(),
      kv::WriteStdout,
      kv::WriteStderr,
      kv::ConsoleLocaleIsUtf8(),
      kv::OpenTreeWriter,
  };
  const int status = kv::kvdump::Run(args, env);
  // A listing that did not reach its reader is a failure, as for cat.
  std::string reason;
  if (!kv::StdoutIntact(&reason)) {
    kv::WriteStderr("kvdump: cannot write to standard output: " + reason + "\n");
    return status == 0 ? 1 : status;
  }
  return status;
}
