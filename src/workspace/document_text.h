// The text of one script as an editor holds it (UTF-8) and as the converter
// reads it (CP932), with the exact correspondence between the two, so that
// a place found by the converter can be shown in the editor and the other
// way round.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// A place in a script as the converter counts it: the line (1-based; lines
// end at line feeds) and the byte column in the line's CP932 text (1-based).
struct SourcePosition {
  int32_t line = 1;
  int32_t column = 1;
  bool operator==(const SourcePosition&) const = default;
};

class DocumentText {
 public:
  // The editor's text, converted as a script saved as UTF-8 is. A character
  // that has no CP932 form becomes '?' for the converter (one byte), and so
  // does a byte that is not UTF-8, which becomes U+FFFD on the editor's side;
  // both are listed in unconverted().
  static std::shared_ptr<const DocumentText> FromUtf8(std::string_view utf8);
  // A file as the converter reads it. A byte that begins no CP932 character
  // reads as U+FFFD on the editor's side.
  static std::shared_ptr<const DocumentText> FromCp932(std::string_view cp932);

  // A stretch of the editor's text that CP932 cannot hold: its UTF-8 offset
  // and length in the text the editor gave (which has U+FFFD for a byte that
  // is no UTF-8, so the length counts the byte, 1).
  struct Unconverted {
    uint32_t utf8_offset;
    uint32_t length;
  };
  // The length of the editor's form of a stretch of CP932 text, as
  // FromCp932 converts it, in UTF-8 bytes and in UTF-16 units: the columns
  // of a place worked out from its line alone, without converting the whole
  // text. `cp932` must begin at a character's first byte.
  struct EditorLength {
    size_t utf8 = 0;
    size_t utf16 = 0;
  };
  static EditorLength Cp932EditorLength(std::string_view cp932);
  // The most of a text that is converted (the rest is left out).
  static constexpr size_t kMaxBytes = size_t{1} << 30;

  // In the order of the text; empty for texts read as CP932.
  const std::vector<Unconverted>& unconverted() const { return unconverted_; }

  // Always valid UTF-8.
  const std::string& utf8() const { return utf8_; }
  const std::string& cp932() const { return cp932_; }

  int32_t LineCount() const { return static_cast<int32_t>(line_starts_.size()); }
  // The CP932 offset where a line begins (1-based; clamped to the text).
  size_t LineStart(int32_t line) const;

  // The CP932 offset of `position`, clamped: before line 1 is the start, past
  // the last line the end of the text, a column past the end of its line
  // the line's end (before its LF or CR LF), and a column inside a
  // double-byte character that character's first byte.
  size_t Cp932Offset(SourcePosition position) const;
  // The position of a CP932 offset (clamped as above).
  SourcePosition PositionAt(size_t cp932_offset) const;

  // The offset in the other encoding where the character at an offset
  // begins; an offset inside a character counts as its first byte, one
  // past the end of the text maps to the other text's end.
  size_t Utf8OffsetOf(size_t cp932_offset) const;
  size_t Cp932OffsetOf(size_t utf8_offset) const;

 private:
  // A character whose two forms are not the same single byte: every
  // character but ASCII, in the order of the text.
  struct Unit {
    uint32_t utf8_offset;
    uint32_t cp932_offset;
    uint8_t utf8_length;
    uint8_t cp932_length;
  };

  // Builds a text from its form in one encoding, character by character.
  template <typename Table, typename Add>
  static std::shared_ptr<const DocumentText> Build(std::string_view input, Table& table,
                                                   size_t (*length)(std::string_view), Add add);
  void AddUnit(std::string_view utf8, std::string_view cp932);
  void IndexLines();
  size_t LineEnd(size_t index) const;  // 0-based line: offset before its LF

  std::string utf8_;
  std::string cp932_;
  std::vector<Unit> units_;
  std::vector<uint32_t> line_starts_ = {0};  // CP932 offsets
  std::vector<Unconverted> unconverted_;
};

// The lines of CP932 bytes as the converter counts them (each ended by a
// LF), for a file read as CP932 and not converted whole. The start of every
// kStride-th line is kept, and a line is found from the nearest one before
// it: a large script's lines are millions, and the lines asked for mostly
// come in order (the last found is a start too).
class Cp932LineIndex {
 public:
  explicit Cp932LineIndex(std::string_view bytes);
  size_t LineCount() const { return lines_; }
  // Where a 0-based line (below LineCount) begins, and where it ends: at its
  // LF, or the end of the bytes for the last line.
  size_t Start(size_t index) const;
  size_t End(size_t index) const;

 private:
  static constexpr size_t kStride = 64;
  std::string_view bytes_;
  size_t lines_ = 1;
  std::vector<uint32_t> starts_;  // of lines 0, kStride, 2 * kStride, ...
  mutable size_t last_index_ = 0;
  mutable size_t last_start_ = 0;
};

}  // namespace kv
