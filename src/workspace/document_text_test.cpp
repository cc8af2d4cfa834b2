#include "workspace/document_text.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(DocumentText, MapsDoubleByteCharactersExactlyAndClampsPositions) {
  // Line 2 holds ソ, whose second CP932 byte is '\' (83 5C).
  auto text = DocumentText::FromUtf8("あい\r\nxソ漢=1;\n");
  EXPECT_EQ("\x82\xA0\x82\xA2\r\nx\x83\x5C\x8A\xBF=1;\n", text->cp932());
  EXPECT_EQ(3, text->LineCount());
  // '=' is column 6 of line 2 in CP932, byte 15 of the UTF-8 text.
  EXPECT_EQ(11u, text->Cp932Offset({2, 6}));
  EXPECT_EQ(15u, text->Utf8OffsetOf(11));
  EXPECT_EQ(11u, text->Cp932OffsetOf(15));
  EXPECT_EQ((SourcePosition{2, 6}), text->PositionAt(11));
  // Inside a character: its first byte, on either side.
  EXPECT_EQ(7u, text->Cp932Offset({2, 3}));
  EXPECT_EQ(9u, text->Cp932OffsetOf(13));
  EXPECT_EQ(12u, text->Utf8OffsetOf(10));
  // Past the end of a line (before its CR LF), of the text, before the start.
  EXPECT_EQ(4u, text->Cp932Offset({1, 99}));
  EXPECT_EQ((SourcePosition{1, 5}), text->PositionAt(5));
  EXPECT_EQ(text->cp932().size(), text->Cp932Offset({9, 1}));
  EXPECT_EQ(0u, text->Cp932Offset({0, 5}));
  EXPECT_EQ((SourcePosition{3, 1}), text->PositionAt(999));
  EXPECT_EQ(text->utf8().size(), text->Utf8OffsetOf(999));
}

TEST(DocumentText, CharactersWithoutACp932FormBecomeOneQuestionMark) {
  auto text = DocumentText::FromUtf8("\xF0\x9F\x98\x80=\xC3\xA9;\xFF");  // 😀=é; and a stray byte
  EXPECT_EQ("?=?;?", text->cp932());
  EXPECT_EQ("\xF0\x9F\x98\x80=\xC3\xA9;\xEF\xBF\xBD", text->utf8());
  EXPECT_EQ(4u, text->Utf8OffsetOf(1));
  EXPECT_EQ(3u, text->Cp932OffsetOf(7));
  ASSERT_EQ(3u, text->unconverted().size());
  EXPECT_EQ(0u, text->unconverted()[0].utf8_offset);
  EXPECT_EQ(4u, text->unconverted()[0].length);
  EXPECT_EQ(5u, text->unconverted()[1].utf8_offset);
  EXPECT_EQ(1u, text->unconverted()[2].length) << "the stray byte";
}

TEST(DocumentText, EditorTextIsConvertedAsScriptFilesAre) {
  // Look-alikes take CP932's code, as in a script saved as UTF-8; "♥" has none.
  auto text = DocumentText::FromUtf8("〜−\xE2\x99\xA5");
  EXPECT_EQ("\x81\x60\x81\x7C?", text->cp932());
  ASSERT_EQ(1u, text->unconverted().size());
  EXPECT_EQ(6u, text->unconverted()[0].utf8_offset);
  EXPECT_TRUE(DocumentText::FromCp932("\x81\x60")->unconverted().empty());
}

TEST(DocumentText, Cp932BytesThatAreNoCharacterReadAsReplacements) {
  // A lead byte before a line feed stands alone and keeps the line feed; so
  // does one at the end. ｱ is one CP932 byte and three UTF-8 bytes.
  auto text = DocumentText::FromCp932("\x81\n\x82\xA0\xB1\x82");
  EXPECT_EQ("\xEF\xBF\xBD\n\xE3\x81\x82\xEF\xBD\xB1\xEF\xBF\xBD", text->utf8());
  EXPECT_EQ(2, text->LineCount());
  EXPECT_EQ(7u, text->Utf8OffsetOf(4));
  EXPECT_EQ(5u, text->Cp932OffsetOf(10));
  EXPECT_EQ((SourcePosition{2, 4}), text->PositionAt(5));
}

}  // namespace
}  // namespace kv
