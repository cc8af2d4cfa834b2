// Interrupt cleanup on Windows: Ctrl-C, Ctrl-Break and a closing console
// window. The system runs the handler on a thread of its own while the
// converter goes on writing, so the handler makes only calls that take no
// lock of the program's: lock-free atomics, the UTF-8 conversion of a name
// into a buffer of its own, WriteFile or WriteConsoleW, DeleteFileW and
// TerminateProcess.
#include <windows.h>

#include <utility>

#include "platform/signals.h"
#include "platform/windows_text.h"

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
  // Said first, so whoever reads the console or the log knows why it ends:
  // as UTF-16 to a console, as the program's bytes to a file or a pipe.
  const std::string_view line = InterruptLine();
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  DWORD written = 0;
  wchar_t wide[512];
  if (line.empty()) {
    // Nothing to say.
  } else if (!GetConsoleMode(out, &mode)) {
    WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  } else if (const int n = MultiByteToWideChar(ConsoleTextCodePage(), 0, line.data(),
                                               static_cast<int>(line.size()), wide, 512);
             n > 0) {
    WriteConsoleW(out, wide, static_cast<DWORD>(n), &written, nullptr);
  }
  // A file open for writing, shared for deletion, goes when the process ends
  // and its handles close.
  // The slots hold the wide names in UTF-8 (see windows_file_system.cpp).
  ForEachTemporaryFile([](const char* path) {
    wchar_t wide[4096];
    if (MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, sizeof wide / sizeof wide[0]) > 0) {
      DeleteFileW(wide);
    }
  });
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
