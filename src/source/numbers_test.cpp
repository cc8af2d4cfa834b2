#include "source/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
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

TEST(ReadDecimalTest, FractionScaledByRepeatedTenths) {
  double v = -1;
  EXPECT_EQ(ReadDecimal("0.3", &v), 3u);
  EXPECT_EQ(v, 3 * 0.1);
  EXPECT_NE(v, 0.3);
  EXPECT_EQ(ReadDecimal("12.25;", &v), 5u);
  EXPECT_EQ(v, 12.25);
  EXPECT_EQ(ReadDecimal("1.5", &v), 3u);
  EXPECT_EQ(v, 1.5);
  EXPECT_EQ(ReadDecimal("0.07", &v), 4u);
  EXPECT_EQ(v, 7.0 * 0.1 * 0.1);
  EXPECT_EQ(ReadDecimal("-2.5", &v), 4u);
  EXPECT_EQ(v, -2.5);
  EXPECT_EQ(ReadDecimal("-.5", &v), 3u);
  EXPECT_EQ(v, -0.5);
}

TEST(ReadDecimalTest, PointAndSignQuirks) {
  double v = -1;
  EXPECT_EQ(ReadDecimal("7.+", &v), 2u);
  EXPECT_EQ(v, 7.0);
  EXPECT_EQ(ReadDecimal("-7.-", &v), 3u);
  EXPECT_EQ(v, -7.0);
  EXPECT_EQ(ReadDecimal("5.", &v), 2u);
  EXPECT_EQ(v, 5.0);
  EXPECT_EQ(ReadDecimal("5.x", &v), 2u);
  EXPECT_EQ(v, 5.0);
  EXPECT_EQ(ReadDecimal("1.5.3", &v), 3u);
  EXPECT_EQ(v, 1.5);
  EXPECT_EQ(ReadDecimal("+;", &v), 1u);  // a lone sign converts as zero
  EXPECT_EQ(v, 0.0);
  v = -1;
  EXPECT_EQ(ReadDecimal(".5", &v), 0u);
  EXPECT_EQ(ReadDecimal("", &v), 0u);
  EXPECT_EQ(ReadDecimal("x", &v), 0u);
  EXPECT_EQ(v, -1);
  EXPECT_EQ(ReadDecimal(std::string_view("2.75", 2), &v), 2u);
  EXPECT_EQ(v, 2.0);
}

TEST(ReadDecimalTest, DigitRunsWrapIn32Bits) {
  double v = 0;
  EXPECT_EQ(ReadDecimal("99999999999", &v), 11u);
  EXPECT_EQ(v, static_cast<double>(static_cast<int32_t>(99999999999LL % 4294967296LL)));
  EXPECT_EQ(ReadDecimal("2147483648", &v), 10u);
  EXPECT_EQ(v, -2147483648.0);
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
