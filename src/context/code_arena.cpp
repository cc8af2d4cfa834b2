#include "context/code_arena.h"

#include <algorithm>
#include <cstring>

#include "platform/bulk_memory.h"

namespace kv {

CodeArena::~CodeArena() { Clear(); }

char* CodeArena::Room(size_t size) {
  if (blocks_.empty() || blocks_.back().size - blocks_.back().used < size) {
    const size_t block_size = std::max(block_size_, size);
    char* data = static_cast<char*>(AllocateBulk(block_size));
    if (data == nullptr) return nullptr;
    blocks_.push_back({data, block_size, 0});
  }
  Block& block = blocks_.back();
  char* at = block.data + block.used;
  block.used += size;
  return at;
}

std::string_view CodeArena::Keep(std::string_view code) {
  if (code.empty()) return {};
  char* at = Room(code.size());
  if (at == nullptr) return {};
  std::memcpy(at, code.data(), code.size());
  return {at, code.size()};
}

std::string_view CodeArena::Move(std::string* code) {
  if (code->empty()) return {};
  char* at = Room(code->size());
  if (at == nullptr) return {};
  // The code of a script of ordinary size is copied whole and its storage
  // stays warm for the next script.
  const bool discard = code->size() > kMovePiece;
  for (size_t done = 0; done < code->size();) {
    const size_t piece = std::min(kMovePiece, code->size() - done);
    std::memcpy(at + done, code->data() + done, piece);
    if (discard) DiscardPages(code->data() + done, piece);
    done += piece;
  }
  return {at, code->size()};
}

void CodeArena::Clear() {
  for (const Block& block : blocks_) FreeBulk(block.data, block.size);
  blocks_.clear();
}

}  // namespace kv
