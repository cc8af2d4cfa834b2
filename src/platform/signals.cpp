#include "platform/signals.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace kv {
namespace {

// Outputs are written one at a time; a few slots leave room to spare.
constexpr int kSlots = 8;
constexpr size_t kSlotPathBytes = 4096;

enum SlotState : int {
  kFree,
  kFilling,   // being registered: its path is not complete yet
  kReady,     // holds a temporary file to remove
  kRemoving,  // taken by the cleanup, never to be reused
};

struct Slot {
  std::atomic<int> state{kFree};
  char path[kSlotPathBytes];
};
static_assert(std::atomic<int>::is_always_lock_free);

Slot g_slots[kSlots];

char g_interrupt_line[256];
std::atomic<size_t> g_interrupt_line_size{0};
static_assert(std::atomic<size_t>::is_always_lock_free);

}  // namespace

void SetInterruptLine(std::string_view bytes) {
  const size_t n = std::min(bytes.size(), sizeof g_interrupt_line);
  // Emptied first, so a handler never sees a line half written.
  g_interrupt_line_size.store(0);
  std::memcpy(g_interrupt_line, bytes.data(), n);
  g_interrupt_line_size.store(n);
}

std::string_view InterruptLine() { return {g_interrupt_line, g_interrupt_line_size.load()}; }

int RegisterTemporaryFile(std::string_view path) {
  if (path.size() >= kSlotPathBytes) return -1;
  for (int i = 0; i < kSlots; ++i) {
    Slot& slot = g_slots[i];
    int expected = kFree;
    if (!slot.state.compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(slot.path, path.data(), path.size());
    slot.path[path.size()] = '\0';
    slot.state.store(kReady);
    return i;
  }
  return -1;
}

void ForgetTemporaryFile(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  // A slot the cleanup has taken stays as it is: the process is ending.
  int expected = kReady;
  g_slots[slot].state.compare_exchange_strong(expected, kFree);
}

void ForEachTemporaryFile(void (*remove)(const char*)) {
  for (Slot& slot : g_slots) {
    int expected = kReady;
    if (slot.state.compare_exchange_strong(expected, kRemoving)) remove(slot.path);
  }
}

}  // namespace kv
