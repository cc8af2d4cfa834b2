// Removal of temporary output files when the run is ended from outside
// (Ctrl-C, a terminal that closes, a kill): the old output stays as it was and
// no half-written temporary file is left beside it.
#pragma once

namespace kv {

// Installs the handlers: on an interrupting signal every registered temporary
// file is removed, then the process ends as the signal would have ended it.
void InstallInterruptCleanup();

// Registers `path` for removal by the handlers. The text must stay alive and
// unchanged until ForgetTemporaryFile is called with the returned slot (-1
// when every slot is taken; forgetting -1 does nothing).
int RegisterTemporaryFile(const char* path);
void ForgetTemporaryFile(int slot);

// Calls `remove` with each registered path. Safe in a signal handler: it
// only loads lock-free atomics.
void ForEachTemporaryFile(void (*remove)(const char*));

}  // namespace kv
