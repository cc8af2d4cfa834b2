#include "test_support/scramble_reference.h"

namespace kv {

std::string ScrambleBytes(std::string_view contents, ScrambleKey k) {
  const size_t n = contents.size();
  const size_t key_offset = static_cast<size_t>(ScrambleKeyOffset(n));
  std::string stored(n + 2, '\0');
  uint32_t mask = k.key;
  for (size_t i = 0; i < n; ++i) {
    const size_t at = i < key_offset ? i : i + 2;
    stored[at] = static_cast<char>(static_cast<uint8_t>(contents[i]) ^ mask);
    mask += k.step;
    if (mask > 255) mask -= 255;
  }
  stored[key_offset] = static_cast<char>(k.key);
  stored[key_offset + 1] = static_cast<char>(k.step);
  return stored;
}

}  // namespace kv
