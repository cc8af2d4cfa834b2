// Large blocks of zeroed memory straight from the system, for data that
// grows to the size of an output (the compiled code of a whole game): pages
// that are never touched take no memory, and a freed block goes back to the
// system at once instead of staying in the allocator's free lists.
#pragma once

#include <cstddef>

namespace kv {

// Null when the system refuses the block.
void* AllocateBulk(size_t bytes);
// `bytes` as given to AllocateBulk.
void FreeBulk(void* block, size_t bytes);

}  // namespace kv
