#include "platform/text.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace kv {
namespace {

TEST(Text, ConvertsBetweenCp932AndUtf8) {
  // "エラー" and a half-width katakana "ｱ".
  EXPECT_EQ("エラーｱ", Cp932ToUtf8("\x83\x47\x83\x89\x81\x5B\xB1"));
  EXPECT_EQ("\x83\x47\x83\x89\x81\x5B\xB1", Utf8ToCp932("エラーｱ"));
  // A lead byte at the end has no character; ASCII passes unchanged.
  EXPECT_EQ("a\xEF\xBF\xBD", Cp932ToUtf8("a\x83"));
  EXPECT_EQ("a?b", Utf8ToCp932("a\xED\x95\x9C"
                               "b"))
      << "Hangul is not in CP932";
}

TEST(Text, ExactConversionsKeepOnlyWhatComesBackUnchanged) {
  std::string out;
  // "ソ表" ends in two 0x5C bytes.
  ASSERT_TRUE(Utf8ToCp932Exact("ソ表.png", &out));
  EXPECT_EQ("\x83\x5C\x95\x5C.png", out);
  ASSERT_TRUE(Cp932ToUtf8Exact("\x83\x5C\x95\x5C.png", &out));
  EXPECT_EQ("ソ表.png", out);
  // CP932 holds "〜" and "¥" only as look-alikes, Hangul and emoji not at all.
  for (const char* utf8 : {"〜", "¥", "\xED\x95\x9C", "\xF0\x9F\x98\x80", "\xFF"}) {
    EXPECT_FALSE(Utf8ToCp932Exact(utf8, &out)) << utf8;
  }
  // A lone lead byte, and a code of the NEC rows that reads back as IBM's.
  EXPECT_FALSE(Cp932ToUtf8Exact("a\x83", &out));
  EXPECT_FALSE(Cp932ToUtf8Exact("\xED\x40", &out));
}

TEST(Text, ScriptTextPassesOnWhatHasNoCp932Form) {
  std::string out;
  std::vector<std::pair<size_t, size_t>> refused;
  auto note = [&](size_t offset, size_t length) {
    refused.emplace_back(offset, length);
    out += '?';
  };
  // Look-alikes take the look-alike's code; an emoji, a stray byte and a
  // cut-short character are refused, within a line too long for one piece.
  const std::string long_line = std::string(300, 'a') + "\xF0\x9F\x98\x80\xFF\xE3\x81\n";
  ConvertScriptText("〜−¢a\n" + long_line + "\xE3\x81\x82", &out, note);
  EXPECT_EQ(
      "\x81\x60\x81\x7C\x81\x91"
      "a\n" +
          std::string(300, 'a') + "????\n\x82\xA0",
      out);
  EXPECT_EQ((std::vector<std::pair<size_t, size_t>>{{310, 4}, {314, 1}, {315, 1}, {316, 1}}),
            refused);
  EXPECT_EQ(0u, Utf8CharacterLength("\xC0\xAF")) << "overlong";
  EXPECT_EQ(0u, Utf8CharacterLength("\xED\xA0\x80")) << "surrogate";
  EXPECT_EQ(4u, Utf8CharacterLength("\xF0\x9F\x98\x80"));
}

TEST(Text, Utf8DecodesAndEncodesEveryLengthAndRefusesMalformedForms) {
  for (char32_t code : {U'a', U'\u00E9', U'\u3042', U'\U0001F600', U'\U0010FFFF'}) {
    std::string utf8;
    AppendUtf8(code, &utf8);
    char32_t back = 0;
    EXPECT_EQ(utf8.size(), DecodeUtf8(utf8, &back));
    EXPECT_EQ(code, back);
    EXPECT_EQ(utf8.size(), Utf8ClaimedLength(static_cast<unsigned char>(utf8[0])));
  }
  std::string surrogate;
  AppendUtf8(0xD800, &surrogate);
  EXPECT_EQ("\xEF\xBF\xBD", surrogate);
  char32_t code = 0;
  for (const char* bad : {"\xF4\x90\x80\x80", "\xE3\x81", "\x80", "\xF8\x80\x80\x80"}) {
    EXPECT_EQ(0u, DecodeUtf8(bad, &code)) << bad;
  }
  EXPECT_TRUE(IsUtf8("a\xE3\x81\x82"));
  EXPECT_FALSE(IsUtf8("a\x82\xA0"));
}

TEST(Text, Cp932CharactersAreALeadByteAndATrailByteOrOneByte) {
  // "ソ" ends in '\'; a lead byte before a line feed or at the end stands
  // alone.
  EXPECT_EQ(2u, Cp932CharacterLength("\x83\x5C"));
  EXPECT_EQ(1u, Cp932CharacterLength("\x83\n"));
  EXPECT_EQ(1u, Cp932CharacterLength("a\x83", 1));
  EXPECT_EQ(1u, Cp932CharacterLength("\xB1\x40")) << "half-width katakana";
  EXPECT_EQ(0u, Cp932CharacterLength("a", 1));
}

}  // namespace
}  // namespace kv
