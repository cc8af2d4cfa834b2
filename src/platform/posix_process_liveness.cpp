#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "platform/process_liveness.h"

namespace kv {

int64_t CurrentProcessId() { return getpid(); }

bool ProcessIsRunning(int64_t id) {
  if (id <= 0 || id > std::numeric_limits<pid_t>::max()) return false;
  // Signal 0 only asks whether the process exists; a process of another
  // user refuses it, and runs all the same.
  return kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM;
}

}  // namespace kv
