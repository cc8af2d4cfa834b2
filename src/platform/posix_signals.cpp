// Interrupt cleanup on POSIX. The handler makes only async-signal-safe calls:
// lock-free atomic loads, unlink, sigaction and raise.
#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "platform/signals.h"

namespace kv {
namespace {

// Outputs are written one at a time; a few slots leave room to spare.
constexpr int kSlots = 8;
std::atomic<const char*> g_temporary_files[kSlots];
static_assert(std::atomic<const char*>::is_always_lock_free);

constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void RemoveTemporaryFilesAndEnd(int signal_number) {
  for (std::atomic<const char*>& slot : g_temporary_files) {
    const char* path = slot.load();
    if (path != nullptr) unlink(path);
  }
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

int RegisterTemporaryFile(const char* path) {
  for (int slot = 0; slot < kSlots; ++slot) {
    const char* expected = nullptr;
    if (g_temporary_files[slot].compare_exchange_strong(expected, path)) return slot;
  }
  return -1;
}

void ForgetTemporaryFile(int slot) {
  if (slot >= 0 && slot < kSlots) g_temporary_files[slot].store(nullptr);
}

}  // namespace kv
