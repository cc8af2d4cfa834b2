// Interrupt cleanup on POSIX. The handler makes only async-signal-safe calls:
// lock-free atomic loads, unlink, sigaction and raise.
#include <signal.h>
#include <unistd.h>

#include "platform/signals.h"

namespace kv {
namespace {

constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void RemoveTemporaryFilesAndEnd(int signal_number) {
  ForEachTemporaryFile([](const char* path) { unlink(path); });
  // The signal is blocked while its handler runs: raised again under the
  // default action, it ends the process once the handler returns.
  struct sigaction default_action = {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  sigaction(signal_number, &default_action, nullptr);
  raise(signal_number);
}

}  // namespace

void InstallInterruptCleanup() {
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
