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
};

// Runs `program` with `args` in `directory`, its standard input empty (or
// the file `input_path`) and its standard output read through a pipe.
// `environment` holds NAME=value settings added to the inherited environment.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& directory, const std::vector<std::string>& environment,
                      const std::string& input_path = "");

// The directory of the running executable, ending with a separator.
std::string ExecutableDirectory();

// The most memory this process has held resident so far, in MiB.
size_t PeakResidentMegabytes();

}  // namespace kv
