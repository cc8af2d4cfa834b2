#include "context/definition_list.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

#include "platform/bulk_memory.h"

namespace kv {
namespace {

constexpr size_t kNameBlock = size_t{64} << 10;
constexpr size_t kFirstRecords = 1024;
constexpr size_t kFirstTable = 1024;
// A table this long goes back when a new script starts instead of being
// cleared: the next scripts are mostly small.
constexpr size_t kKeptTable = size_t{64} << 10;

size_t HashOf(std::string_view name) { return std::hash<std::string_view>{}(name); }

}  // namespace

std::string_view DefinitionName::view() const {
  if (stored_ == nullptr) return {};
  uint32_t size;
  std::memcpy(&size, stored_, sizeof size);
  return {stored_ + sizeof size, size};
}

DefinitionList::~DefinitionList() {
  clear();
}

void DefinitionList::clear() {
  FreeBulk(records_, capacity_ * sizeof(DefinitionRecord));
  records_ = nullptr;
  size_ = capacity_ = 0;
  blocks_.clear();
  block_used_ = block_size_ = 0;
  FreeBulk(table_, table_size_ * sizeof(uint32_t));
  table_ = nullptr;
  table_size_ = indexed_ = 0;
}

const char* DefinitionList::KeepName(std::string_view name) {
  const uint32_t size = static_cast<uint32_t>(name.size());
  const size_t need = sizeof size + name.size();
  if (block_size_ - block_used_ < need) {
    block_size_ = std::max(kNameBlock, need);
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(block_size_));
    block_used_ = 0;
  }
  char* at = blocks_.back().get() + block_used_;
  std::memcpy(at, &size, sizeof size);
  std::memcpy(at + sizeof size, name.data(), name.size());
  block_used_ += need;
  return at;
}

DefinitionRecord& DefinitionList::Add(std::string_view name, const std::string* script,
                                      uint32_t position) {
  if (size_ == capacity_) {
    // Taken from the system: the old array goes back at once, so that no
    // freed copy stays behind in the allocator as the list grows.
    const size_t capacity = std::max(kFirstRecords, capacity_ * 2);
    auto* records = static_cast<DefinitionRecord*>(AllocateBulk(capacity * sizeof(DefinitionRecord)));
    if (records == nullptr) throw std::bad_alloc();
    if (size_ != 0) std::memcpy(static_cast<void*>(records), records_, size_ * sizeof(DefinitionRecord));
    FreeBulk(records_, capacity_ * sizeof(DefinitionRecord));
    records_ = records;
    capacity_ = capacity;
  }
  DefinitionRecord& record = records_[size_];
  record = {DefinitionName(KeepName(name)), DefinitionScript(script), position};
  Index(static_cast<uint32_t>(size_++));
  return record;
}

int64_t DefinitionList::Find(std::string_view name) const {
  if (table_size_ == 0) return -1;
  const size_t mask = table_size_ - 1;
  for (size_t slot = HashOf(name) & mask;; slot = (slot + 1) & mask) {
    const uint32_t entry = table_[slot];
    if (entry == 0) return -1;
    if (records_[entry - 1].name.view() == name) return entry - 1;
  }
}

void DefinitionList::Index(uint32_t number) {
  if ((indexed_ + 1) * 2 > table_size_) GrowIndex();
  const size_t mask = table_size_ - 1;
  size_t slot = HashOf(records_[number].name.view()) & mask;
  while (table_[slot] != 0) slot = (slot + 1) & mask;
  table_[slot] = number + 1;
  ++indexed_;
}

void DefinitionList::GrowIndex() {
  const size_t size = std::max(kFirstTable, table_size_ * 2);
  auto* table = static_cast<uint32_t*>(AllocateBulk(size * sizeof(uint32_t)));
  if (table == nullptr) throw std::bad_alloc();
  const size_t mask = size - 1;
  for (size_t i = 0; i < table_size_; ++i) {
    const uint32_t entry = table_[i];
    if (entry == 0) continue;
    size_t slot = HashOf(records_[entry - 1].name.view()) & mask;
    while (table[slot] != 0) slot = (slot + 1) & mask;
    table[slot] = entry;
  }
  FreeBulk(table_, table_size_ * sizeof(uint32_t));
  table_ = table;
  table_size_ = size;
}

void DefinitionList::ClearIndex() {
  if (indexed_ == 0) return;
  if (table_size_ > kKeptTable) {
    FreeBulk(table_, table_size_ * sizeof(uint32_t));
    table_ = nullptr;
    table_size_ = 0;
  } else {
    std::fill(table_, table_ + table_size_, 0u);
  }
  indexed_ = 0;
}

}  // namespace kv
