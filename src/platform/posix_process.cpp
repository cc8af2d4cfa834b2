#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "platform/process.h"

namespace kv {

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& directory, const std::vector<std::string>& environment,
                      const std::string& input_path) {
  ProgramRun run;
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return run;
  pid_t pid = fork();
  if (pid == 0) {
    int null_fd = open(input_path.empty() ? "/dev/null" : input_path.c_str(), O_RDONLY);
    if (null_fd < 0 || dup2(null_fd, STDIN_FILENO) < 0 || dup2(pipe_fds[1], STDOUT_FILENO) < 0 ||
        chdir(directory.c_str()) != 0) {
      _exit(127);
    }
    close(pipe_fds[0]);
    for (const std::string& setting : environment) putenv(const_cast<char*>(setting.c_str()));
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(pipe_fds[1]);
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(kProgramDeadlineSeconds);
  char buffer[4096];
  for (;;) {
    // Killed, the program closes its end of the pipe, which ends the loop.
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready{pipe_fds[0], POLLIN, 0};
    const int polled = run.timed_out || pid <= 0 ? 1 : poll(&ready, 1, std::max<int>(0, left.count()));
    if (polled < 0 && errno == EINTR) continue;
    if (polled == 0) {
      kill(pid, SIGKILL);
      run.timed_out = true;
    }
    ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    run.output.append(buffer, static_cast<size_t>(n));
  }
  close(pipe_fds[0]);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return run;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string ExecutableDirectory() {
  std::string path(4096, '\0');
  ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0) return "./";
  path.resize(static_cast<size_t>(n));
  return path.substr(0, path.find_last_of('/') + 1);
}

size_t PeakResidentMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<size_t>(usage.ru_maxrss) / 1024;  // KiB on Linux
}

}  // namespace kv
