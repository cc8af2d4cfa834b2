#include "source/numbers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <limits>
#include <string>

namespace kv {
namespace {

TEST(ParseIntegerTest, SignDigitsAndWrap) {
  int32_t v = 77;
  EXPECT_EQ(ParseInteger("-42x", &v), 3u);
  EXPECT_EQ(v, -42);
  EXPECT_EQ(ParseInteger("+7", &v), 2u);
  EXPECT_EQ(v, 7);
  EXPECT_EQ(ParseInteger("2147483648", &v), 10u);
  EXPECT_EQ(v, INT32_MIN);
  EXPECT_EQ(ParseInteger("4294967296", &v), 10u);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(ParseInteger("-2147483648", &v), 11u);
  EXPECT_EQ(v, INT32_MIN);
  v = 77;
  for (std::string_view none : {"", "-", "+x", "x1", " 1"}) {
    EXPECT_EQ(ParseInteger(none, &v), 0u) << none;
  }
  EXPECT_EQ(v, 77);  // nothing stored without a number
  // The view ends inside the digits: nothing beyond it is read.
  EXPECT_EQ(ParseInteger(std::string_view("123", 2), &v), 2u);
  EXPECT_EQ(v, 12);
}

TEST(ReadDecimalTest, ValuesAndCharactersTaken) {
  struct Case { std::string_view text; size_t taken; double value; };
  const Case cases[] = {
      {"0.3", 3, 3 * 0.1},        {"12.25;", 5, 12.25},      {"1.5", 3, 1.5},
      {"0.07", 4, 7 * 0.1 * 0.1}, {"-2.5", 4, -2.5},         {"-.5", 3, -0.5},
      {"7.+", 2, 7},              {"-7.-", 3, -7},           {"5.", 2, 5},
      {"5.x", 2, 5},              {"1.5.3", 3, 1.5},         {"+;", 1, 0},
      {"2147483648", 10, -2147483648.0},
      {"99999999999", 11, static_cast<int32_t>(99999999999LL % 4294967296LL)},
  };
  for (const Case& c : cases) {
    double v = 1234;
    EXPECT_EQ(ReadDecimal(c.text, &v), c.taken) << c.text;
    EXPECT_EQ(v, c.value) << c.text;
  }
  double v = 3 * 0.1;
  ASSERT_NE(v, 0.3);  // 0.3 really reads as a different double than the nearest one
  v = -1;
  for (std::string_view none : {".5", "", "x"}) EXPECT_EQ(ReadDecimal(none, &v), 0u) << none;
  EXPECT_EQ(v, -1);
  EXPECT_EQ(ReadDecimal(std::string_view("2.75", 2), &v), 2u);
  EXPECT_EQ(v, 2.0);
}

TEST(ReadNumberTextTest, PrefixesAndDecimal) {
  struct Case { std::string_view text; size_t count; size_t consumed; double value; };
  const Case cases[] = {
      {"0x1F;", 2, 4, 31},          {"0XfF", 2, 4, 255},
      {"0b101", 3, 5, 5},           {"0B12", 1, 3, 1},
      {"0xFFFFFFFF", 8, 10, -1},    {"0x123456789", 9, 11, 0x23456789},
      {"09", 2, 2, 9},              {"0.5", 3, 3, 0.5},
      {"0", 1, 1, 0},               {"-0x1", 2, 2, -0.0},
  };
  for (const Case& c : cases) {
    double v = 1234;
    size_t consumed = 99;
    EXPECT_EQ(ReadNumberText(c.text, &v, &consumed), c.count) << c.text;
    EXPECT_EQ(consumed, c.consumed) << c.text;
    EXPECT_EQ(v, c.value) << c.text;
  }
  double v = 1234;
  size_t consumed = 99;
  EXPECT_EQ(ReadNumberText("0x;", &v, &consumed), 0u);
  EXPECT_EQ(consumed, 2u);
  EXPECT_EQ(ReadNumberText("0b", &v, &consumed), 0u);
  EXPECT_EQ(consumed, 2u);
  EXPECT_EQ(ReadNumberText("x", &v, &consumed), 0u);
  EXPECT_EQ(consumed, 0u);
  EXPECT_EQ(v, 1234);
}

std::string Text(int digits, double value, size_t size = 32) {
  char buffer[64];
  EXPECT_TRUE(NumberToText(buffer, size, digits, value));
  return buffer;
}

// What the script reader makes of a literal.
double Read(const std::string& text) {
  double value = 0;
  size_t consumed = 0;
  EXPECT_GT(ReadNumberText(text, &value, &consumed), 0u) << text;
  EXPECT_EQ(consumed, text.size()) << text;
  return value;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(NumberLiteralTest, TheShortestLiteralThatReadsBackBitForBit) {
  struct Case { double value; std::string_view literal; };
  const Case cases[] = {
      {0, "0"},           {7, "7"},          {2147483647, "2147483647"},
      {3 * 0.1, "0.3"},   {1.5, "1.5"},      {12.05, "12.05"},
      {-1, "4294967295"}, {-2147483648.0, "2147483648"},
      {-0.5, "4294967295.5"},
  };
  std::string text;
  for (const Case& c : cases) {
    ASSERT_TRUE(NumberLiteral(c.value, &text)) << c.value;
    EXPECT_EQ(c.literal, text);
    EXPECT_TRUE(SameBits(c.value, Read(text))) << text;
  }
}

TEST(NumberLiteralTest, ValuesThatNoLiteralReadsAs) {
  std::string text = "unchanged";
  // The double nearest to 0.3 is none of them either: "0.3" reads as 3 * 0.1,
  // and so do the longer fractions near it.
  for (double v : {-0.0, 2147483648.0, 1e20, -3e9, std::numeric_limits<double>::infinity(),
                   std::nan(""), 0.3}) {
    EXPECT_FALSE(NumberLiteral(v, &text)) << v;
  }
  EXPECT_EQ("unchanged", text);
}

TEST(NumberLiteralTest, EveryLiteralsValueHasOne) {
  // Literals of every shape, with integer parts and fractions that wrap.
  std::mt19937 rng(7);
  auto digits = [&rng](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s.push_back(static_cast<char>('0' + rng() % 10));
    return s;
  };
  for (int i = 0; i < 20000; ++i) {
    std::string literal = digits(1 + static_cast<int>(rng() % 12));
    if (rng() % 4 != 0) literal += "." + digits(1 + static_cast<int>(rng() % 14));
    const double value = Read(literal);
    std::string text;
    ASSERT_TRUE(NumberLiteral(value, &text)) << literal;
    EXPECT_TRUE(SameBits(value, Read(text))) << literal << " -> " << text;
    EXPECT_LE(text.size(), std::max<size_t>(literal.size(), 12)) << literal << " -> " << text;
  }
}

TEST(NumberToTextTest, CutsInsteadOfRounding) {
  EXPECT_EQ(Text(3, 2.675), "2.674");
  EXPECT_EQ(Text(6, static_cast<float>(-0.25)), "-0.250000");
  EXPECT_EQ(Text(10, 3.0), "3.0000000000");
  EXPECT_EQ(Text(10, 0.1), "0.1000000000");
  EXPECT_EQ(Text(0, -7.5), "-7");
  EXPECT_EQ(Text(0, 1000), "1000");
  EXPECT_EQ(Text(0, -0.5), "-0");
  EXPECT_EQ(Text(2, 0.999), "0.99");
  EXPECT_EQ(Text(10, -2147483648.0), "-2147483648.0000000000");  // 22 bytes
  EXPECT_EQ(Text(-3, 12.5), "12");
}

TEST(NumberToTextTest, OutOfRangeClampsAndNanIsZero) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(Text(2, 2147483647.75), "2147483647.75");
  EXPECT_EQ(Text(2, 2147483648.0), "2147483647.00");
  EXPECT_EQ(Text(2, 1e300), "2147483647.00");
  EXPECT_EQ(Text(2, -2147483648.5), "-2147483648.50");
  EXPECT_EQ(Text(2, -2147483649.0), "-2147483648.00");
  EXPECT_EQ(Text(2, -inf), "-2147483648.00");
  EXPECT_EQ(Text(2, std::nan("")), "0.00");
}

TEST(NumberToTextTest, SmallBufferIsCutAndReported) {
  char buffer[8] = "xxxxxxx";
  EXPECT_FALSE(NumberToText(buffer, 5, 2, -123.5));
  EXPECT_STREQ(buffer, "-123");
  EXPECT_TRUE(NumberToText(buffer, 5, 0, 1234));
  EXPECT_STREQ(buffer, "1234");
  EXPECT_FALSE(NumberToText(buffer, 1, 0, 5));
  EXPECT_STREQ(buffer, "");
  EXPECT_FALSE(NumberToText(buffer, 0, 0, 5));
  EXPECT_FALSE(NumberToText(buffer, 8, 1000000000, 0.5));  // stops at the buffer
  EXPECT_STREQ(buffer, "0.50000");
}

}  // namespace
}  // namespace kv
