#include <sys/mman.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <unistd.h>

#include <cstdint>

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

void DiscardPages(void* begin, size_t bytes) {
  static const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t start = reinterpret_cast<uintptr_t>(begin);
  const uintptr_t first = (start + page - 1) & ~(page - 1);
  const uintptr_t end = (start + bytes) & ~(page - 1);
  // Only pages that lie wholly inside the range: the bytes around it (an
  // allocator's bookkeeping, other data) keep their pages.
  if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_DONTNEED);
}

void ReleaseFreeMemory() {
#ifdef __GLIBC__
  malloc_trim(0);
#endif
}

}  // namespace kv
