#include "server/positions.h"

#include <gtest/gtest.h>

#include <random>

namespace kv {
namespace {

constexpr PositionEncoding kUtf16 = PositionEncoding::kUtf16;
constexpr PositionEncoding kUtf8 = PositionEncoding::kUtf8;

TEST(LineIndex, CountsUtf16UnitsOrUtf8BytesAndClamps) {
  // Line 1: a, あ (1 unit, 3 bytes), 😀 (2 units, 4 bytes), b. CR, CR LF and
  // LF all end lines.
  const std::string text =
      "a\xE3\x81\x82\xF0\x9F\x98\x80"
      "b\r\rx\r\ny";
  const LineIndex lines(text);
  EXPECT_EQ(8u, lines.Offset({0, 4}, kUtf16));
  EXPECT_EQ(8u, lines.Offset({0, 8}, kUtf8));
  EXPECT_EQ((LspPosition{0, 4}), lines.Position(8, kUtf16));
  EXPECT_EQ((LspPosition{0, 8}), lines.Position(8, kUtf8));
  // Inside a surrogate pair or a UTF-8 sequence: the character's start.
  EXPECT_EQ(4u, lines.Offset({0, 3}, kUtf16));
  EXPECT_EQ(1u, lines.Offset({0, 2}, kUtf8));
  EXPECT_EQ((LspPosition{0, 2}), lines.Position(6, kUtf16));
  // Past the end of a line: before its line break; past the last line: the end.
  EXPECT_EQ(9u, lines.Offset({0, 99}, kUtf16));
  EXPECT_EQ(10u, lines.Offset({1, 5}, kUtf8));
  EXPECT_EQ(12u, lines.Offset({2, 5}, kUtf16));
  EXPECT_EQ((LspPosition{2, 1}), lines.Position(13, kUtf16));
  EXPECT_EQ((LspPosition{3, 0}), lines.Position(14, kUtf8));
  EXPECT_EQ(15u, lines.Offset({9, 0}, kUtf16));
}

TEST(PositionMap, ConvertsBetweenTheProtocolAndCp932Columns) {
  // "  text "漢字";" then a line that the converter joins to it: a lone CR
  // ends a line for the editor, not for the converter.
  auto text = DocumentText::FromUtf8("text \"漢字\" x;\r\ny\rz;");
  const PositionMap utf16(text, kUtf16);
  const PositionMap utf8(text, kUtf8);
  // x: character 10 in UTF-16, byte 14 in UTF-8, column 13 in CP932.
  EXPECT_EQ((SourcePosition{1, 13}), utf16.ToSource({0, 10}));
  EXPECT_EQ((SourcePosition{1, 13}), utf8.ToSource({0, 14}));
  EXPECT_EQ((LspPosition{0, 10}), utf16.ToLsp({1, 13}));
  EXPECT_EQ((LspPosition{0, 14}), utf8.ToLsp({1, 13}));
  // 字's second byte counts as its first.
  EXPECT_EQ((LspPosition{0, 7}), utf16.ToLsp({1, 10}));
  // z stands on the editor's line 3 and the converter's line 2.
  EXPECT_EQ((SourcePosition{2, 3}), utf16.ToSource({2, 0}));
  EXPECT_EQ((LspPosition{2, 0}), utf16.ToLsp({2, 3}));
  EXPECT_EQ((LspPosition{2, 2}), utf16.ToLsp({7, 1}));

  // A file that cannot be read: the numbers change their base only.
  const PositionMap none(std::shared_ptr<const DocumentText>(), kUtf16);
  EXPECT_EQ((SourcePosition{3, 5}), none.ToSource({2, 4}));
  EXPECT_EQ((LspPosition{2, 4}), none.ToLsp({3, 5}));
}

// A text being edited answers as the whole text's line index does, in both
// encodings, for columns inside, at and past lines of all kinds.
TEST(PositionMap, OverCp932BytesAgreesWithTheMapOverTheWholeText) {
  // Pieces with every way a line or a character can end: line breaks of
  // each kind, double-byte characters (one with '\\' second), half-width
  // kana, a lead byte cut by a line break or by a byte that is no trail,
  // and bytes that begin no character.
  const std::string pieces[] = {"a",        "\n",       "\r",   "\r\n",   "\x82\xA0", "\x83\x5C",
                                "\xB1",     "\x82\n",   "\x82\r", "\x81\x7F", "\x80",    "\xFF",
                                "\xEF\x40", "\x87\x40", "\t"};
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    std::string text;
    // Now and then more lines than the map keeps a start for.
    const bool long_text = round % 20 == 0;
    const int length = static_cast<int>(random() % (long_text ? 600 : 24));
    for (int i = 0; i < length; ++i) text += pieces[random() % std::size(pieces)];
    for (PositionEncoding encoding : {kUtf16, kUtf8}) {
      const PositionMap whole(DocumentText::FromCp932(text), encoding);
      const PositionMap bytes(std::make_shared<const std::string>(text), encoding);
      // In order and out of order: the map reads on from the last place.
      for (int pass = 0; pass < 2; ++pass) {
        for (int32_t n = 0; n <= length + 2; ++n) {
          const int32_t line = pass == 0 ? n : length + 2 - n;
          for (int32_t column = pass == 0 ? 0 : 60; column <= 60 && column >= 0;
               column += (pass == 0 ? 1 : -3) * (long_text ? 7 : 1)) {
            const SourcePosition place{line, column};
            ASSERT_EQ(whole.ToLsp(place), bytes.ToLsp(place))
                << "line " << line << " column " << column << " of " << ::testing::PrintToString(text);
          }
        }
      }
      EXPECT_EQ(whole.ToSource({1, 2}), bytes.ToSource({1, 2}));
    }
  }
}

TEST(Cp932Placer, PlacesFromPiecesAsTheMapOverTheWholeFile) {
  const std::string pieces[] = {"a", "\n", "\r", "\r\n", "\x82\xA0", "\x83\x5C", "\xB1", "\x82\n",
                                "\x82\r", "\x80", "\t"};
  std::mt19937 random(11);
  for (int round = 0; round < 200; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % (round % 20 == 0 ? 400 : 24));
    for (int i = 0; i < length; ++i) text += pieces[random() % std::size(pieces)];
    const auto bytes = std::make_shared<const std::string>(text);
    for (PositionEncoding encoding : {kUtf16, kUtf8}) {
      const PositionMap whole(bytes, encoding);
      // Lines before the first and past the last, columns from 0 to past
      // the longest line; every other one, so that lines are skipped.
      std::vector<PositionMap::Placed> places;
      for (int32_t line = -1; line <= length + 2; ++line) {
        for (int32_t column = line % 2 == 0 ? 0 : 1; column <= 30; column += 2) {
          places.push_back({PositionMap::KeyOf({line, column}), 0, 0});
        }
      }
      std::sort(places.begin(), places.end(), [](const auto& a, const auto& b) { return a.key < b.key; });
      Cp932Placer placer(places, encoding);
      const size_t piece = 1 + random() % 7;
      for (size_t at = 0; at < text.size(); at += piece) placer.Take(std::string_view(text).substr(at, piece));
      const PositionMap placed(placer.Finish(), [&] { return bytes; }, encoding);
      for (const PositionMap::Placed& p : places) {
        const SourcePosition at{static_cast<int32_t>(p.key >> 32), static_cast<int32_t>(p.key)};
        ASSERT_EQ(whole.ToLsp(at), placed.ToLsp(at))
            << "line " << at.line << " column " << at.column << " of " << ::testing::PrintToString(text);
      }
      // A place not worked out beforehand is converted over the bytes read
      // then; with none (the file changed), only the bases change.
      EXPECT_EQ(whole.ToLsp({1, 31}), placed.ToLsp({1, 31}));
      const PositionMap gone(std::vector<PositionMap::Placed>{}, [] { return nullptr; }, encoding);
      EXPECT_EQ(gone.ToLsp({3, 5}), (LspPosition{2, 4}));
    }
  }
}

TEST(DraftOffset, AgreesWithTheLineIndexOfTheWholeText) {
  std::mt19937 random(3);
  const std::vector<std::string> pieces = {"a",  "\r",           "\n",           "\r\n",
                                           "\xE3\x81\x82", "\xF0\x9F\x98\x80", "\xFF", "\xE3"};
  std::string text;
  for (int i = 0; i < 3000; ++i) text += pieces[random() % pieces.size()];
  text += std::string(20000, 'b');  // a line longer than a piece of the draft
  const DocumentDraft draft(text);
  const LineIndex lines(text);
  for (int probe = 0; probe < 4000; ++probe) {
    const LspPosition position{static_cast<int64_t>(random() % 1300) - 2,
                               static_cast<int64_t>(random() % (probe % 10 == 0 ? 30000 : 12)) - 1};
    for (PositionEncoding encoding : {kUtf16, kUtf8}) {
      ASSERT_EQ(lines.Offset(position, encoding), DraftOffset(draft, position, encoding))
          << position.line << ":" << position.character;
    }
  }
}

}  // namespace
}  // namespace kv
