#include "server/json.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(Json, ParsesWithoutExceptionsAndReadsMembersByType) {
  Json value;
  EXPECT_TRUE(ParseJson(std::string(64, '[') + std::string(64, ']'), &value));
  EXPECT_FALSE(ParseJson(std::string(65, '[') + std::string(65, ']'), &value));
  EXPECT_FALSE(ParseJson("{\"a\":\"\xFF\"}", &value));  // not UTF-8
  EXPECT_FALSE(ParseJson("{} {}", &value));

  ASSERT_TRUE(ParseJson(R"({"big":18446744073709551615,"neg":-3,"real":1.5,"s":"x","b":true})",
                        &value));
  int64_t number = 0;
  EXPECT_TRUE(IntegerMember(value, "big", &number));
  EXPECT_EQ(INT64_MAX, number);
  EXPECT_TRUE(IntegerMember(value, "neg", &number));
  EXPECT_EQ(-3, number);
  EXPECT_FALSE(IntegerMember(value, "real", &number));
  EXPECT_FALSE(IntegerMember(value, "s", &number));
  std::string text;
  EXPECT_FALSE(StringMember(value, "b", &text));
  EXPECT_FALSE(StringMember(Json::array({1}), "s", &text));
  bool flag = false;
  EXPECT_TRUE(BoolMember(value, "b", &flag) && flag);

  EXPECT_EQ("{\"a\":\"\xEF\xBF\xBD\"}", SerializeJson(Json::object({{"a", "\xFF"}})));
}

TEST(Json, TextWriterWritesWhatTheTreeWould) {
  // Quotes, backslashes, every control byte, DEL, CP932-range text, bytes
  // that are no UTF-8 (lone, cut short, overlong) and an empty string.
  std::string controls;
  for (int c = 0; c < 0x20; ++c) controls += static_cast<char>(c);
  const std::string strings[] = {"",
                                 "plain",
                                 "a\"b\\c/d",
                                 controls + "\x7F",
                                 "\xE6\xBC\xA2\xE5\xAD\x97 \xF0\x9F\x98\x80",
                                 "x\xFFy\x80",
                                 "cut \xE6\xBC",
                                 "\xC0\xAF overlong",
                                 std::string("nul\0inside", 10)};
  Json tree = Json::array();
  std::string text;
  JsonTextWriter writer(&text);
  writer.Raw("[");
  for (const std::string& s : strings) {
    tree.push_back(s);
    writer.String(s);
    writer.Raw(",");
  }
  for (int64_t n : {int64_t{0}, int64_t{-1}, INT64_MAX, INT64_MIN}) {
    tree.push_back(n);
    writer.Integer(n);
    writer.Raw(n == INT64_MIN ? "]" : ",");
  }
  EXPECT_EQ(SerializeJson(tree), text);
}

}  // namespace
}  // namespace kv
