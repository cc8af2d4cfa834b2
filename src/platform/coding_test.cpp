#include "platform/coding.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(Coding, Fixed32AndDoubleRoundTripLittleEndian) {
  std::string out;
  PutFixed32(&out, 0x12345678u);
  PutFixed32(&out, 0xFFFFFFFFu);
  PutDouble(&out, 3.0);
  PutFixed8(&out, 0xAB);
  EXPECT_EQ(std::string("\x78\x56\x34\x12\xFF\xFF\xFF\xFF\0\0\0\0\0\0\x08\x40\xAB", 17), out);

  std::string_view in = out;
  uint32_t a, b;
  double d;
  uint8_t c;
  ASSERT_TRUE(GetFixed32(&in, &a) && GetFixed32(&in, &b) && GetDouble(&in, &d) &&
              GetFixed8(&in, &c));
  EXPECT_EQ(0x12345678u, a);
  EXPECT_EQ(0xFFFFFFFFu, b);
  EXPECT_EQ(3.0, d);
  EXPECT_EQ(0xAB, c);
  EXPECT_TRUE(in.empty());
}

TEST(Coding, ShortInputIsRefusedAndLeftUnconsumed) {
  std::string_view in("\x01\x02\x03", 3);
  uint32_t v;
  double d;
  std::string_view bytes;
  EXPECT_FALSE(GetFixed32(&in, &v));
  EXPECT_FALSE(GetDouble(&in, &d));
  EXPECT_FALSE(GetBytes(&in, 4, &bytes));
  EXPECT_EQ(3u, in.size());

  // A length prefix larger than what follows: nothing is taken.
  std::string prefixed;
  PutFixed32(&prefixed, 0x7FFFFFFF);
  prefixed += "abc";
  std::string_view p = prefixed;
  EXPECT_FALSE(GetLengthPrefixed(&p, &bytes));
  EXPECT_EQ(prefixed.size(), p.size());
  std::string ok;
  PutFixed32(&ok, 2);
  ok += "xyz";
  std::string_view q = ok;
  ASSERT_TRUE(GetLengthPrefixed(&q, &bytes));
  EXPECT_EQ("xy", bytes);
  EXPECT_EQ("z", q);
}

}  // namespace
}  // namespace kv
