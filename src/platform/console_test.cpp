#include <gtest/gtest.h>

#include "platform/console.h"

namespace kv {
namespace {

TEST(Console, UsesUtf8OnlyForAConsoleOnTheUtf8CodePage) {
  EXPECT_TRUE(ConsoleCodePageIsUtf8(true, 65001));
  EXPECT_FALSE(ConsoleCodePageIsUtf8(true, 932));
  EXPECT_FALSE(ConsoleCodePageIsUtf8(true, 437));
  EXPECT_FALSE(ConsoleCodePageIsUtf8(false, 65001)) << "a file or pipe gets CP932";
}

TEST(Console, ConvertsBetweenCp932AndUtf8) {
  // "エラー" and a half-width katakana "ｱ".
  EXPECT_EQ("エラーｱ", Cp932ToUtf8("\x83\x47\x83\x89\x81\x5B\xB1"));
  EXPECT_EQ("\x83\x47\x83\x89\x81\x5B\xB1", Utf8ToCp932("エラーｱ"));
  // A lead byte at the end has no character; ASCII passes unchanged.
  EXPECT_EQ("a\xEF\xBF\xBD", Cp932ToUtf8("a\x83"));
  EXPECT_EQ("a?b", Utf8ToCp932("a\xED\x95\x9C" "b")) << "Hangul is not in CP932";
}

}  // namespace
}  // namespace kv
