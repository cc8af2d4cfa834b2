#include "output/scramble.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "test_support/scramble_reference.h"

namespace kv {
namespace {

std::string Contents(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + 3);
  return s;
}

uint8_t At(const std::string& s, size_t i) { return static_cast<uint8_t>(s.at(i)); }

// The mask of content byte i: ((key - 1 + i * step) mod 255) + 1.
uint8_t Mask(ScrambleKey k, size_t i) {
  return static_cast<uint8_t>((k.key - 1 + i * k.step) % 255 + 1);
}

TEST(ScrambleTest, KeyAndStepPositions) {
  const ScrambleKey k{200, 7};
  struct Case { size_t n; size_t key_at; };
  for (const Case c : {Case{100, 52}, Case{53, 52}, Case{52, 50}, Case{10, 8}, Case{2, 0}}) {
    const std::string in = Contents(c.n);
    const std::string out = ScrambleBytes(in, k);
    ASSERT_EQ(out.size(), c.n + 2) << c.n;
    EXPECT_EQ(At(out, c.key_at), 200) << c.n;
    EXPECT_EQ(At(out, c.key_at + 1), 7) << c.n;
    for (size_t i = 0; i < c.n; ++i) {
      const size_t at = i < c.key_at ? i : i + 2;
      EXPECT_EQ(At(out, at), At(in, i) ^ Mask(k, i)) << c.n << " byte " << i;
    }
  }
}

TEST(ScrambleTest, MaskWrapsWithinOneTo255) {
  const std::string out = ScrambleBytes(std::string(6, '\0'), ScrambleKey{250, 10});
  // Masks 250 5 15 25, then key and step, then masks 35 45.
  EXPECT_EQ(out, std::string("\xFA\x05\x0F\x19\xFA\x0A\x23\x2D", 8));
}

TEST(ScrambleTest, ShortContentsKeepKeyAfterThem) {
  EXPECT_EQ(ScrambleBytes("", ScrambleKey{9, 3}), std::string("\x09\x03", 2));
  EXPECT_EQ(ScrambleBytes("A", ScrambleKey{9, 3}), std::string("\x48\x09\x03", 3));
  std::string back = "junk";
  ASSERT_TRUE(UnscrambleBytes(std::string("\x48\x09\x03", 3), &back));
  EXPECT_EQ(back, "A");
  ASSERT_TRUE(UnscrambleBytes(std::string("\x09\x03", 2), &back));
  EXPECT_EQ(back, "");
  EXPECT_FALSE(UnscrambleBytes("x", &back));
  EXPECT_FALSE(UnscrambleBytes("", &back));
}

TEST(ScrambleTest, RoundTripEveryLength) {
  for (size_t n = 0; n <= 600; ++n) {
    const ScrambleKey k{static_cast<uint8_t>(n % 255 + 1), static_cast<uint8_t>(n % 21 + 1)};
    const std::string in = Contents(n);
    std::string back;
    ASSERT_TRUE(UnscrambleBytes(ScrambleBytes(in, k), &back)) << n;
    ASSERT_EQ(back, in) << n;
  }
}

TEST(ScrambleTest, KeyFromSeed) {
  // Two draws of the generator seeded with 1: 41 and 18467.
  Rand15 r(1);
  EXPECT_EQ(r.Next(), 41);
  EXPECT_EQ(r.Next(), 18467);
  const ScrambleKey one = MakeScrambleKey(1);
  EXPECT_EQ(one.key, static_cast<uint8_t>(41 / 32767.0 * 254.0 + 1.0));
  EXPECT_EQ(one.step, static_cast<uint8_t>(18467 / 32767.0 * 20.0 + 1.0));
  bool saw_low = false, saw_high = false;
  for (uint32_t seed = 0; seed < 200000; seed += 7) {
    const ScrambleKey k = MakeScrambleKey(seed);
    ASSERT_GE(k.key, 1);
    ASSERT_GE(k.step, 1);
    ASSERT_LE(k.step, 21);
    saw_low = saw_low || k.step == 1;
    saw_high = saw_high || k.step == 21 || k.key == 255;
    const ScrambleKey again = MakeScrambleKey(seed);
    ASSERT_EQ(k.key, again.key);
    ASSERT_EQ(k.step, again.step);
  }
  EXPECT_TRUE(saw_low);
  EXPECT_TRUE(saw_high);
}

std::string Streamed(const std::string& in, ScrambleKey k, size_t (*chunk)(size_t, size_t)) {
  StreamScrambler s(in.size(), k);
  std::string out = "prefix";
  size_t pos = 0;
  for (size_t call = 0; pos < in.size(); ++call) {
    const size_t n = std::min(chunk(call, pos), in.size() - pos);
    s.Feed(in.data() + pos, n, &out);
    pos += n;
  }
  s.Feed(nullptr, 0, &out);
  EXPECT_EQ(s.fed(), in.size());
  EXPECT_FALSE(s.overflowed());
  return out.substr(6);
}

TEST(StreamScramblerTest, MatchesScrambleBytesForAnyChunking) {
  const size_t lengths[] = {0, 1, 2, 3, 51, 52, 53, 54, 55, 254, 255, 256, 307, 308,
                            509, 510, 511, 4079, 4080, 4081, 4133, 9000, 70001};
  size_t (*const chunkings[])(size_t, size_t) = {
      [](size_t, size_t) -> size_t { return 1; },
      [](size_t, size_t) -> size_t { return 1u << 30; },
      [](size_t, size_t) -> size_t { return 255; },
      [](size_t call, size_t) -> size_t { return call == 0 ? 51 : call == 1 ? 2 : 254; },
      [](size_t call, size_t) -> size_t { return call == 0 ? 53 : 4081; },
      [](size_t, size_t pos) -> size_t { return pos < 52 ? 52 - pos : 256; },
      [](size_t call, size_t) -> size_t {  // pseudo-random sizes, 1..5000
        return (call * 2654435761u >> 7) % 5000 + 1;
      },
  };
  for (size_t n : lengths) {
    const ScrambleKey k{static_cast<uint8_t>(n % 255 + 1), static_cast<uint8_t>(n % 21 + 1)};
    const std::string in = Contents(n);
    const std::string expected = ScrambleBytes(in, k);
    for (size_t c = 0; c < std::size(chunkings); ++c) {
      ASSERT_EQ(Streamed(in, k, chunkings[c]), expected) << "length " << n << " chunking " << c;
    }
  }
}

TEST(StreamScramblerTest, ZeroKeyAndExtraBytes) {
  // A zero key breaks the 255-byte period at the first byte only.
  const std::string in = Contents(1000);
  for (const ScrambleKey k : {ScrambleKey{0, 5}, ScrambleKey{0, 0}, ScrambleKey{255, 255}}) {
    ASSERT_EQ(Streamed(in, k, [](size_t, size_t) -> size_t { return 300; }), ScrambleBytes(in, k));
  }
  StreamScrambler s(3, ScrambleKey{1, 1});
  std::string out;
  s.Feed("abcdef", 6, &out);
  EXPECT_TRUE(s.overflowed());
  EXPECT_EQ(s.fed(), 3u);
  EXPECT_EQ(out, ScrambleBytes("abc", ScrambleKey{1, 1}));
}

}  // namespace
}  // namespace kv
