#include <sys/mman.h>

#include "platform/bulk_memory.h"

namespace kv {

// Large pages were tried: the faults that clear them made the compile slower
// and less steady than plain pages.
void* AllocateBulk(size_t bytes) {
  void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return block == MAP_FAILED ? nullptr : block;
}

void FreeBulk(void* block, size_t bytes) {
  if (block != nullptr) munmap(block, bytes);
}

}  // namespace kv
