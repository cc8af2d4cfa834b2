#include "output/scramble.h"

#include <algorithm>
#include <cstring>

namespace kv {
namespace {

// The running mask: grows by `step` and drops by 255 when it passes 255, so a
// mask that starts in 1..255 stays there.
uint32_t NextMask(uint32_t mask, uint8_t step) {
  mask += step;
  if (mask > 255) mask -= 255;
  return mask;
}

// dst[i] = src[i] ^ pattern[i] for n bytes, eight bytes at a time; dst may be
// src itself.
void XorInto(char* dst, const char* src, const uint8_t* pattern, size_t n) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t a;
    uint64_t b;
    std::memcpy(&a, src + i, 8);
    std::memcpy(&b, pattern + i, 8);
    a ^= b;
    std::memcpy(dst + i, &a, 8);
  }
  for (; i < n; ++i) dst[i] = static_cast<char>(src[i] ^ pattern[i]);
}

// The masks of content bytes 1, 2, ... in table[0], table[1], ...: after the
// first byte the mask sequence is periodic with period 255 for every key and
// step, so a block starting at any phase is a contiguous slice of the table.
void FillPattern(uint8_t* table, size_t size, ScrambleKey k) {
  uint32_t mask = NextMask(k.key, k.step);
  for (size_t i = 0; i < size; ++i) {
    table[i] = static_cast<uint8_t>(mask);
    mask = NextMask(mask, k.step);
  }
}

}  // namespace

Rand15::Rand15(uint32_t seed) : state_(seed) {}

int Rand15::Next() {
  state_ = state_ * 214013u + 2531011u;
  return static_cast<int>((state_ >> 16) & 0x7FFFu);
}

ScrambleKey MakeScrambleKey(uint32_t seed) {
  Rand15 random(seed);
  const int r1 = random.Next();
  const int r2 = random.Next();
  ScrambleKey k;
  k.key = static_cast<uint8_t>(static_cast<int>(r1 / 32767.0 * 254.0 + 1.0) & 0xFF);
  k.step = static_cast<uint8_t>(static_cast<int>(r2 / 32767.0 * 20.0 + 1.0) & 0xFF);
  return k;
}

uint64_t ScrambleKeyOffset(uint64_t content_length) {
  if (content_length > 52) return 52;
  if (content_length >= 2) return content_length - 2;
  // Shorter contents never come from the program's own objects; key and step
  // then simply follow the contents.
  return content_length;
}

bool UnscrambleBytes(std::string_view stored, std::string* contents) {
  if (stored.size() < 2) return false;
  const size_t length = stored.size() - 2;
  const size_t key_offset = static_cast<size_t>(ScrambleKeyOffset(length));
  const uint8_t step = static_cast<uint8_t>(stored[key_offset + 1]);
  uint32_t mask = static_cast<uint8_t>(stored[key_offset]);
  contents->clear();
  contents->reserve(length);
  for (size_t i = 0; i < stored.size(); ++i) {
    if (i == key_offset || i == key_offset + 1) continue;
    contents->push_back(static_cast<char>(static_cast<uint8_t>(stored[i]) ^ mask));
    mask = NextMask(mask, step);
  }
  return true;
}

StreamScrambler::StreamScrambler(uint64_t content_length, ScrambleKey k)
    : length_(content_length), key_offset_(ScrambleKeyOffset(content_length)), k_(k) {
  FillPattern(pattern_.data(), pattern_.size(), k);
}

size_t StreamScrambler::Feed(const char* data, size_t n, char* out) {
  if (n > length_ - fed_) {
    overflowed_ = true;
    n = static_cast<size_t>(length_ - fed_);
  }
  char* const start = out;
  for (;;) {
    if (!key_written_ && fed_ == key_offset_) {
      *out++ = static_cast<char>(k_.key);
      *out++ = static_cast<char>(k_.step);
      key_written_ = true;
    }
    if (n == 0) return static_cast<size_t>(out - start);
    if (fed_ == 0) {
      // The first byte takes the key itself; the pattern covers the rest.
      *out++ = static_cast<char>(static_cast<uint8_t>(*data) ^ k_.key);
      ++data;
      --n;
      ++fed_;
      continue;
    }
    size_t run = std::min(n, kRun);
    if (!key_written_) run = static_cast<size_t>(std::min<uint64_t>(run, key_offset_ - fed_));
    const size_t phase = static_cast<size_t>((fed_ - 1) % kPeriod);
    XorInto(out, data, pattern_.data() + phase, run);
    out += run;
    data += run;
    n -= run;
    fed_ += run;
  }
}

void StreamScrambler::Feed(const char* data, size_t n, std::string* out) {
  const size_t start = out->size();
  out->resize(start + n + 2);
  out->resize(start + Feed(data, n, out->data() + start));
}

void StreamScrambler::MaskInPlace(char* data, size_t n) {
  if (n > length_ - fed_) {
    overflowed_ = true;
    n = static_cast<size_t>(length_ - fed_);
  }
  if (n > 0 && fed_ == 0) {
    *data = static_cast<char>(static_cast<uint8_t>(*data) ^ k_.key);
    ++data;
    --n;
    ++fed_;
  }
  while (n > 0) {
    const size_t run = std::min(n, kRun);
    XorInto(data, data, pattern_.data() + (fed_ - 1) % kPeriod, run);
    data += run;
    n -= run;
    fed_ += run;
  }
}

}  // namespace kv
