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
  std::vector<std::string> args(argv, argv + argc);
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
