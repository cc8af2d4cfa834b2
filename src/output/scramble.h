// The masking applied to every object file before it is written. Each content byte
// is combined by exclusive-or with a running mask that starts at `key` and grows by
// `step` (wrapping within 1..255); key and step are stored inside the output so a
// reader can undo it.
//
// Stored layout for n content bytes (n + 2 bytes in total): the key and the step
// stand together before content byte P, where P is 52 when n > 52, n - 2 when
// 2 <= n <= 52, and n (after the contents) when n < 2. The mask advances only on
// content bytes.
#ifndef KV_OUTPUT_SCRAMBLE_H_
#define KV_OUTPUT_SCRAMBLE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kv {

// 15-bit pseudo-random generator (0..32767), seeded like the C library's srand/rand
// pair but identical on every platform.
class Rand15 {
 public:
  explicit Rand15(uint32_t seed);
  int Next();

 private:
  uint32_t state_;
};

struct ScrambleKey {
  uint8_t key;
  uint8_t step;
};

// Key (1..255) and step (1..21) from two draws of a generator seeded with `seed`
// (the time in seconds), so two objects written within one second share them.
ScrambleKey MakeScrambleKey(uint32_t seed);

// Index of the content byte before which key and step are stored.
uint64_t ScrambleKeyOffset(uint64_t content_length);

// Undoes the scrambling: `stored` is a whole object file. False when it is
// too short to hold key and step.
bool UnscrambleBytes(std::string_view stored, std::string* contents);

// The scrambler of outputs whose content length is known in advance: contents
// fed in chunks of any size produce the stored form. Works on whole blocks
// against a precomputed mask pattern.
class StreamScrambler {
 public:
  StreamScrambler(uint64_t content_length, ScrambleKey k);

  // Writes the scrambled form of `n` further content bytes (and key and step when
  // their place is reached) at `out`, which has room for n + 2 bytes, and returns
  // how many bytes it wrote. Key and step that stand after the contents (content
  // length below 2) come with the call that completes the contents; for empty
  // contents, call Feed once with n = 0. Bytes beyond the announced length are
  // not written and make overflowed() true.
  size_t Feed(const char* data, size_t n, char* out);
  // The same, appended to *out.
  void Feed(const char* data, size_t n, std::string* out);
  // Scrambles `n` further content bytes where they stand; only once key and step
  // have been written, since nothing moves.
  void MaskInPlace(char* data, size_t n);

  uint64_t fed() const { return fed_; }
  bool key_written() const { return key_written_; }
  bool overflowed() const { return overflowed_; }

 private:
  static constexpr size_t kPeriod = 255;          // the mask repeats every 255 bytes
  static constexpr size_t kRun = kPeriod * 16;    // content bytes masked per block

  uint64_t length_;
  uint64_t key_offset_;
  ScrambleKey k_;
  uint64_t fed_ = 0;
  bool key_written_ = false;
  bool overflowed_ = false;
  // Masks of content bytes 1, 2, ...: after the first byte the mask sequence is
  // periodic with period 255 for every key and step, so any block of up to kRun
  // bytes starting at any phase is a contiguous slice of this table.
  std::array<uint8_t, kRun + kPeriod - 1> pattern_;
};

}  // namespace kv

#endif  // KV_OUTPUT_SCRAMBLE_H_
