#include <gtest/gtest.h>

#include "platform/console.h"

namespace kv {
namespace {

TEST(Console, ALocaleTakesUtf8WhenItsNameSaysSo) {
  for (const char* name : {"C.UTF-8", "ja_JP.utf8", "en_US.UTF-8@euro", "de_DE.Utf-8"}) {
    EXPECT_TRUE(LocaleNameIsUtf8(name)) << name;
  }
  for (const char* name : {"", "C", "POSIX", "ja_JP", "ja_JP.eucJP", "UTF-8", "x.utf16"}) {
    EXPECT_FALSE(LocaleNameIsUtf8(name)) << name;
  }
}

}  // namespace
}  // namespace kv
