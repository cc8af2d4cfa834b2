#include <sys/mman.h>

#include <cstdint>

#include "platform/bulk_memory.h"

namespace kv {
namespace {

// Large pages cover only ranges aligned to their size.
constexpr size_t kLargePage = size_t{2} << 20;

}  // namespace

void* AllocateBulk(size_t bytes) {
  if (bytes > SIZE_MAX - kLargePage) return nullptr;
  const size_t mapped = bytes + kLargePage;
  void* raw = mmap(nullptr, mapped, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  // Keeps the aligned part and gives back the pieces before and after it.
  const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (start + kLargePage - 1) & ~(kLargePage - 1);
  if (aligned != start) munmap(raw, aligned - start);
  const size_t tail = (start + mapped) - (aligned + bytes);
  if (tail != 0) munmap(reinterpret_cast<void*>(aligned + bytes), tail);
  void* block = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
  // Only advice: a system without large pages serves the block as it is.
  madvise(block, bytes, MADV_HUGEPAGE);
#endif
  return block;
}

void FreeBulk(void* block, size_t bytes) {
  if (block != nullptr) munmap(block, bytes);
}

}  // namespace kv
