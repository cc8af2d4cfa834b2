#include "platform/signals.h"

#include <atomic>

namespace kv {
namespace {

// Outputs are written one at a time; a few slots leave room to spare.
constexpr int kSlots = 8;
std::atomic<const char*> g_temporary_files[kSlots];
static_assert(std::atomic<const char*>::is_always_lock_free);

}  // namespace

int RegisterTemporaryFile(const char* path) {
  for (int slot = 0; slot < kSlots; ++slot) {
    const char* expected = nullptr;
    if (g_temporary_files[slot].compare_exchange_strong(expected, path)) return slot;
  }
  return -1;
}

void ForgetTemporaryFile(int slot) {
  if (slot >= 0 && slot < kSlots) g_temporary_files[slot].store(nullptr);
}

void ForEachTemporaryFile(void (*remove)(const char*)) {
  for (std::atomic<const char*>& slot : g_temporary_files) {
    const char* path = slot.load();
    if (path != nullptr) remove(path);
  }
}

}  // namespace kv
