#include <windows.h>

#include "platform/process_liveness.h"

namespace kv {

int64_t CurrentProcessId() { return GetCurrentProcessId(); }

bool ProcessIsRunning(int64_t id) {
  if (id <= 0 || id > 0xFFFFFFFFLL) return false;
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
  // A process this one may not open exists, and runs as far as it can tell.
  if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  // An ended process stays known while handles to it are open: its handle
  // is signalled then.
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

}  // namespace kv
