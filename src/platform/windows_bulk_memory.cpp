#include <malloc.h>
#include <windows.h>

#include "platform/bulk_memory.h"

namespace kv {

// Committed memory is only given pages when it is first touched.
void* AllocateBulk(size_t bytes) {
  return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void FreeBulk(void* block, size_t) {
  if (block != nullptr) VirtualFree(block, 0, MEM_RELEASE);
}

// The system's ways of dropping pages (MEM_RESET, DiscardVirtualMemory) work
// on whole regions of VirtualAlloc only, and heap blocks are not that: the
// pages stay.
void DiscardPages(void*, size_t) {}

void ReleaseFreeMemory() { _heapmin(); }

}  // namespace kv
