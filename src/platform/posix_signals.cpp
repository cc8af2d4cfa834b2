// Interrupt cleanup on POSIX. The handler makes only async-signal-safe calls:
// lock-free atomics, write, unlink, sigaction and raise.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <utility>

#include "platform/signals.h"

namespace kv {
namespace {

constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void RemoveTemporaryFilesAndEnd(int signal_number) {
  // Said first, so whoever reads the console or the log knows why it ends.
  const std::string_view line = InterruptLine();
  if (!line.empty() && write(STDOUT_FILENO, line.data(), line.size()) < 0) {
    // Nothing more can be done about it here.
  }
  ForEachTemporaryFile([](const char* path) { unlink(path); });
  // The signal is blocked while its handler runs: raised again under the
  // default action, it ends the process once the handler returns.
  struct sigaction default_action = {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  sigaction(signal_number, &default_action, nullptr);
  raise(signal_number);
}

// The interrupting signals blocked in the calling thread while alive; the
// previous mask is restored when it goes.
class InterruptsBlocked {
 public:
  InterruptsBlocked() {
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int signal_number : kInterruptSignals) sigaddset(&blocked, signal_number);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous_);
  }
  ~InterruptsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  InterruptsBlocked(const InterruptsBlocked&) = delete;
  InterruptsBlocked& operator=(const InterruptsBlocked&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace

std::thread StartThread(std::function<void()> body) {
  // A new thread starts with the mask of the thread that makes it.
  InterruptsBlocked blocked;
  return std::thread(std::move(body));
}

void InstallInterruptCleanup() {
  // A write past the file-size limit (ulimit -f) then fails with EFBIG, as
  // any failed write does: the run says so and removes its temporary file,
  // where the signal would end it silently and leave the file behind.
  signal(SIGXFSZ, SIG_IGN);
  struct sigaction action = {};
  action.sa_handler = RemoveTemporaryFilesAndEnd;
  sigemptyset(&action.sa_mask);
  for (int signal_number : kInterruptSignals) sigaddset(&action.sa_mask, signal_number);
  for (int signal_number : kInterruptSignals) {
    struct sigaction previous;
    if (sigaction(signal_number, &action, &previous) != 0) continue;
    // A signal ignored by whoever started the program (nohup) stays ignored.
    if (previous.sa_handler == SIG_IGN) sigaction(signal_number, &previous, nullptr);
  }
}

}  // namespace kv
