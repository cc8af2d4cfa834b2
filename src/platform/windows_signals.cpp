// Interrupt cleanup on Windows: Ctrl-C, Ctrl-Break and a closing console
// window. The system runs the handler on a thread of its own while the
// converter goes on writing, so the handler makes only calls that take no
// lock of the program's: lock-free atomic loads, DeleteFileA and
// TerminateProcess.
#include <windows.h>

#include <atomic>

#include "platform/signals.h"

namespace kv {
namespace {

// Outputs are written one at a time; a few slots leave room to spare.
constexpr int kSlots = 8;
std::atomic<const char*> g_temporary_files[kSlots];
static_assert(std::atomic<const char*>::is_always_lock_free);

// The status a process ended by Ctrl-C gets (STATUS_CONTROL_C_EXIT).
constexpr UINT kControlCExit = 0xC000013A;

BOOL WINAPI RemoveTemporaryFilesAndEnd(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      break;
    default:
      return FALSE;  // logoff and shutdown reach services only
  }
  for (std::atomic<const char*>& slot : g_temporary_files) {
    const char* path = slot.load();
    // The file is open for writing, shared for deletion: it goes when the
    // process ends and its handles close.
    if (path != nullptr) DeleteFileA(path);
  }
  // Not ExitProcess: that would run the libraries' detach code while the
  // writing thread, stopped anywhere, may hold their locks.
  TerminateProcess(GetCurrentProcess(), kControlCExit);
  return TRUE;
}

}  // namespace

void InstallInterruptCleanup() { SetConsoleCtrlHandler(RemoveTemporaryFilesAndEnd, TRUE); }

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
