// Running a program as a child process and finding the running executable,
// for the end-to-end tests (the converter itself never starts a process).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kv {

struct ProgramRun {
  int status = -1;     // exit status; -1 when the program could not run or was killed
  std::string output;  // everything it wrote to standard output
  bool timed_out = false;  // killed at the deadline
};

// How long a program may run: one that hangs is killed then, so a test
// fails instead of holding up the whole suite.
inline constexpr int kProgramDeadlineSeconds = 120;

// Runs `program` with `args` in `directory` (all UTF-8), its standard input
// empty (or the file `input_path`) and its standard output read through a
// pipe, and kills it when it is still running at the deadline. `environment`
// holds NAME=value settings added to the inherited environment.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& directory, const std::vector<std::string>& environment,
                      const std::string& input_path = "");

// The directory of the running executable, ending with a separator.
std::string ExecutableDirectory();

// The most memory this process has held resident so far, in MiB.
size_t PeakResidentMegabytes();

}  // namespace kv
