// CodeArena: the compiled code of every finished script, kept one after
// another in a few large blocks until the script object is written.
//
// A script is compiled into storage that is reused from script to script and
// stays warm in the cache; only its finished code is copied here. The blocks
// come straight from the system, so a second context can keep code of its
// own for as long as the conversion needs it, and all of it goes back at
// once.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

class CodeArena {
 public:
  // Blocks are reserved `block_size` large, or as large as one script's
  // code; the system gives them pages only where code is written.
  explicit CodeArena(size_t block_size = kDefaultBlockSize) : block_size_(block_size) {}
  ~CodeArena();
  CodeArena(const CodeArena&) = delete;
  CodeArena& operator=(const CodeArena&) = delete;

  // A copy of `code` that stays valid until Clear. A view with a null data
  // pointer when the memory for it is refused (or `code` is empty): the
  // caller keeps its own copy then.
  std::string_view Keep(std::string_view code);
  // The same, copying `code` piece by piece and giving each copied piece's
  // pages back to the system (`code` holds zeros there afterwards), so that
  // a large script's code is never held twice.
  std::string_view Move(std::string* code);
  // Gives all memory back.
  void Clear();

 private:
  static constexpr size_t kDefaultBlockSize = size_t{64} << 20;
  static constexpr size_t kMovePiece = size_t{4} << 20;
  // Room for `size` bytes at the end of the last block; null when refused.
  char* Room(size_t size);
  struct Block {
    char* data;
    size_t size;
    size_t used;
  };
  size_t block_size_;
  std::vector<Block> blocks_;
};

}  // namespace kv
