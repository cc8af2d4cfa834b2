// Interrupt cleanup on Windows: Ctrl-C, Ctrl-Break and a closing console
// window. The system runs the handler on a thread of its own while the
// converter goes on writing, so the handler makes only calls that take no
// lock of the program's: lock-free atomics, WriteFile, DeleteFileA and
// TerminateProcess.
#include <windows.h>

#include <utility>

#include "platform/signals.h"

namespace kv {
namespace {

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
  // Said first, so whoever reads the console or the log knows why it ends.
  const std::string_view line = InterruptLine();
  if (!line.empty()) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()),
              &written, nullptr);
  }
  // A file open for writing, shared for deletion, goes when the process ends
  // and its handles close.
  ForEachTemporaryFile([](const char* path) { DeleteFileA(path); });
  // Not ExitProcess: that would run the libraries' detach code while the
  // writing thread, stopped anywhere, may hold their locks.
  TerminateProcess(GetCurrentProcess(), kControlCExit);
  return TRUE;
}

}  // namespace

void InstallInterruptCleanup() { SetConsoleCtrlHandler(RemoveTemporaryFilesAndEnd, TRUE); }

// Console events reach the handler on a thread of the system's own; the
// program's threads need nothing blocked.
std::thread StartThread(std::function<void()> body) { return std::thread(std::move(body)); }

}  // namespace kv
