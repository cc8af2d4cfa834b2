// Positions as the protocol gives them (0-based line, column in UTF-16 code
// units or UTF-8 bytes of the editor's text) and their conversion to the
// converter's (SourcePosition: 1-based line, CP932 byte column) and back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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

 private:
  size_t ContentEnd(size_t line) const;

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

  SourcePosition ToSource(LspPosition position) const;
  LspPosition ToLsp(SourcePosition position) const;

 private:
  std::shared_ptr<const DocumentText> text_;
  LineIndex lines_;
  PositionEncoding encoding_;
};

}  // namespace kv
