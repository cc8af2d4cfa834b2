// Removal of temporary output files when the run is ended from outside
// (Ctrl-C, a terminal that closes, a kill): the old output stays as it was and
// no half-written temporary file is left beside it.
#pragma once

#include <functional>
#include <string_view>
#include <thread>

namespace kv {

// Installs the handlers: on an interrupting signal every registered temporary
// file is removed, then the process ends as the signal would have ended it.
// The signal of the file-size limit is ignored, so that such a write fails
// as other failed writes do.
void InstallInterruptCleanup();

// The line the handlers print on standard output before the cleanup, in the
// console's encoding (cut short past a few hundred bytes). None until set.
void SetInterruptLine(std::string_view bytes);
// The line as set. Safe in a signal handler: it reads an atomic and a buffer
// that only SetInterruptLine writes.
std::string_view InterruptLine();

// Registers `path` for removal by the handlers. The slot keeps a copy of the
// path, so the caller's text may change or go at any time. Returns the slot,
// or -1 when every slot is taken or the path is too long for one; forgetting
// -1 does nothing.
int RegisterTemporaryFile(std::string_view path);
void ForgetTemporaryFile(int slot);

// Calls `remove` with each registered path, each at most once. Safe in a
// signal handler and on a thread of its own beside the program: it only
// touches lock-free atomics and the slots' own copies. A slot taken this way
// stays taken, so its copy is never overwritten while `remove` reads it.
void ForEachTemporaryFile(void (*remove)(const char*));

// Starts a thread that runs `body` with the interrupting signals blocked, so
// that the cleanup handler always runs on the main thread, never beside it.
std::thread StartThread(std::function<void()> body);

}  // namespace kv
