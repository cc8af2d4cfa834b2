#include "context/code_arena.h"

#include <algorithm>
#include <cstring>

#include "platform/bulk_memory.h"

namespace kv {

CodeArena::~CodeArena() { Clear(); }

std::string_view CodeArena::Keep(std::string_view code) {
  if (code.empty()) return {};
  if (blocks_.empty() || blocks_.back().size - blocks_.back().used < code.size()) {
    const size_t size = std::max(block_size_, code.size());
    char* data = static_cast<char*>(AllocateBulk(size));
    if (data == nullptr) return {};
    blocks_.push_back({data, size, 0});
  }
  Block& block = blocks_.back();
  char* at = block.data + block.used;
  std::memcpy(at, code.data(), code.size());
  block.used += code.size();
  return {at, code.size()};
}

void CodeArena::Clear() {
  for (const Block& block : blocks_) FreeBulk(block.data, block.size);
  blocks_.clear();
}

}  // namespace kv
