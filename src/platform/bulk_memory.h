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

// Gives the memory of the whole pages inside [begin, begin + bytes) back to
// the system, for data that is never read again but whose storage stays
// allocated (a script's text behind the statement being read, code already
// copied elsewhere). The range stays readable and writable: on POSIX it reads
// as zeros afterwards; where the system cannot do this safely for any memory
// (Windows), the pages stay as they were.
void DiscardPages(void* begin, size_t bytes);

// Gives the pages of the allocator's free memory back to the system. Blocks
// freed in the middle of the heap otherwise stay resident until the heap's
// top is freed, so a phase that freed much (the checks of a whole game)
// would leave the next one (publishing their findings) standing on them.
void ReleaseFreeMemory();

}  // namespace kv
