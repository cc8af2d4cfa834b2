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

}  // namespace
}  // namespace kv
