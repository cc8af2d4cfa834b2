// Positions as the protocol gives them (0-based line, column in UTF-16 code
// units or UTF-8 bytes of the editor's text) and their conversion to the
// converter's (SourcePosition: 1-based line, CP932 byte column) and back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "workspace/document_draft.h"
#include "workspace/document_text.h"

namespace kv {

enum class PositionEncoding { kUtf16, kUtf8 };

struct LspPosition {
  int64_t line = 0;
  int64_t character = 0;
  bool operator==(const LspPosition&) const = default;
};

// The lines of a UTF-8 text as the protocol counts them: each ended by
// CR LF, LF or CR.
class LineIndex {
 public:
  explicit LineIndex(std::string_view utf8);

  // The offset of a position, clamped: past the last line is the end of
  // the text, past the end of a line the line's end (before its line
  // break), and a column inside a character that character's start.
  size_t Offset(LspPosition position, PositionEncoding encoding) const;
  // The position of an offset (an offset inside a line break or a character
  // counts as the line's end or the character's start).
  LspPosition Position(size_t offset, PositionEncoding encoding) const;

  // The line holding an offset, where it starts, and where its content ends
  // (before its line break).
  size_t LineOf(size_t offset) const;
  size_t Start(size_t line) const { return starts_[line]; }
  size_t ContentEnd(size_t line) const;

 private:

  std::string_view text_;
  std::vector<size_t> starts_;
};

// The offset of a position in a text being edited, clamped as
// LineIndex::Offset does; it reads only the position's line, and of that
// no more than the column needs.
size_t DraftOffset(const DocumentDraft& text, LspPosition position, PositionEncoding encoding);

// Both ways between the protocol's positions and the converter's, for one
// document. Without a text (a file that cannot be read), lines and columns
// only change their base.
class PositionMap {
 public:
  PositionMap(std::shared_ptr<const DocumentText> text, PositionEncoding encoding);
  // Over a file's bytes as a compile read them as CP932, without converting
  // the whole text: a place is converted from its line alone (a text is
  // made only for a position the editor gives).
  PositionMap(std::shared_ptr<const std::string> cp932, PositionEncoding encoding);
  // A place worked out beforehand (Cp932Placer): its key and its position.
  struct Placed {
    uint64_t key = 0;
    uint32_t line = 0;
    uint32_t character = 0;
  };
  static uint64_t KeyOf(SourcePosition position) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(position.line)) << 32) |
           static_cast<uint32_t>(position.column);
  }
  // Over places worked out beforehand (ordered by key, each once), for a
  // file too large to be read whole for them: any other place, or a
  // position the editor gives, is converted over the bytes `read` gives
  // then (null: the file is no longer as read, and has no text).
  PositionMap(std::vector<Placed> placed, std::function<std::shared_ptr<const std::string>()> read,
              PositionEncoding encoding);
  PositionMap(PositionMap&&) = default;
  ~PositionMap();

  SourcePosition ToSource(LspPosition position) const;
  LspPosition ToLsp(SourcePosition position) const;

 private:
  LspPosition Cp932ToLsp(SourcePosition position) const;
  // The map over the whole text, made when first needed.
  const PositionMap& Whole() const;

  std::shared_ptr<const DocumentText> text_;
  LineIndex lines_;
  PositionEncoding encoding_;
  // Over CP932 bytes alone: the bytes, their lines as the converter counts
  // them (the offsets after each LF), the map made from a whole text when
  // a position must go the other way, and where the last place converted
  // stands (places come mostly in order: a long line is read once).
  std::shared_ptr<const std::string> cp932_;
  std::string_view bytes_;
  std::unique_ptr<Cp932LineIndex> source_lines_;
  // A CR alone ends a line for the protocol but not for the converter:
  // only then are the protocol's lines indexed apart (lines_).
  bool lone_cr_ = false;
  mutable std::unique_ptr<PositionMap> whole_;
  // Over places worked out beforehand: them, and how the bytes are read.
  bool placed_mode_ = false;
  std::vector<Placed> placed_;
  std::function<std::shared_ptr<const std::string>()> read_;
  struct Cursor {
    size_t line_start = SIZE_MAX;
    size_t offset = 0;
    DocumentText::EditorLength length;
  };
  mutable Cursor cursor_;
};

// Works out, from a CP932 file handed over a piece at a time, the
// protocol's positions of places on it, as a PositionMap over the whole
// file converts them. Only the line being read is kept, and each line is
// converted alone: the protocol's line where it begins is counted (a CR
// alone ends a line for the protocol but not for the converter).
class Cp932Placer {
 public:
  // `places`: their keys set, ordered by key, each once.
  Cp932Placer(std::vector<PositionMap::Placed> places, PositionEncoding encoding);
  void Take(std::string_view piece);
  // After the last piece: every place with its position, ordered by key.
  std::vector<PositionMap::Placed> Finish();

 private:
  // A line as the converter counts it, with its LF unless it is the last.
  void EndLine(std::string_view line, bool last);
  static int32_t LineOf(const PositionMap::Placed& place) {
    return static_cast<int32_t>(static_cast<uint32_t>(place.key >> 32));
  }
  std::vector<PositionMap::Placed> places_;
  PositionEncoding encoding_;
  // Those on lines from 1, in order, and the next of them to place.
  size_t first_ = 0, end_ = 0, next_ = 0;
  int64_t line_ = 1;           // the converter's line being read
  uint64_t editor_line_ = 0;   // the protocol's line where it begins
  std::string carry_;          // its bytes so far, when it spans pieces
  size_t taken_ = 0;
};

}  // namespace kv
