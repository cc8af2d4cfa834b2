// Large blocks of zeroed memory straight from the system, for data that
// grows to the size of an output (the compiled code of a whole game). Such a
// block is asked to be backed by large pages where the system offers them: a
// page fault then brings in 2 MiB instead of 4 KiB, and the kernel clears a
// few hundred pages instead of thousands. Pages that are never touched take
// no memory.
#pragma once

#include <cstddef>

namespace kv {

// Null when the system refuses the block.
void* AllocateBulk(size_t bytes);
// `bytes` as given to AllocateBulk.
void FreeBulk(void* block, size_t bytes);

}  // namespace kv
