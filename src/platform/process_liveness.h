// Whether another process still runs: a server started by a client ends
// when that client has gone.
#pragma once

#include <cstdint>

namespace kv {

// This process's id.
int64_t CurrentProcessId();

// Whether a process with this id is running (one this process may not touch
// counts as running); false for an id that no running process has.
bool ProcessIsRunning(int64_t id);

}  // namespace kv
