// SourceText: a script's text as the compiler reads it.
#pragma once

#include <cstdint>
#include <vector>

#include "context/pell_file.h"

namespace kv {

// Comment removal moves the text after a comment to the left: from
// `offset` of the contents on (up to the next shift), a byte stood `shift`
// bytes further right in the file.
struct TextShift {
  uint32_t offset;
  uint32_t shift;
};

// The same by line, for a text whose offsets change after comment removal
// (a script read as UTF-8): from `column` (counted from 0 in the line as
// kept) on, `removed` bytes of the line stood before a byte in the file.
struct LineShift {
  int32_t line;
  uint32_t column;
  uint32_t removed;
};

// A loaded script: its text, comments removed, with the reader's cursor
// (position and line), where the statement being read begins, and what the
// comments' removal and a conversion from UTF-8 moved, for the columns of
// messages.
class SourceText : public PellFile {
 public:
  using PellFile::PellFile;

  // The line of byte `offset` of the contents, counted from where the reader
  // stands (`position`, whose line is `line`), so it is cheap for a byte of
  // the statement just read.
  int32_t LineAt(uint32_t offset) const;
  // The byte column (1-based) of byte `offset` of the contents in its line,
  // as the file has it: before its comments were removed, and in UTF-8
  // bytes for a script read as UTF-8. 0 when the offset lies past the
  // contents.
  int32_t ColumnAt(uint32_t offset) const;

  // Where the statement being read begins: its line, and its offset in the
  // contents (the tokenizer sets them when the statement is done; at the end
  // of the text, the end of its last line). Line 0: no statement yet.
  int32_t statementLine = 0;
  uint32_t statementOffset = 0;
  // In ascending order of offset; empty for a text without comments.
  std::vector<TextShift> shifts;
  // Turns `shifts` into `lineShifts`, for the text as it is now.
  void ShiftsByLine();
  std::vector<LineShift> lineShifts;
  // The file is UTF-8 and its text has been converted to CP932 (its columns
  // come from lineShifts).
  bool textFromUtf8 = false;

  // Gives the memory of the text before the line the reader stands in back
  // to the system (the text reads as zeros there afterwards), a few MiB at a
  // time, so that a large script and its code are not held whole together.
  // Nothing reads that text again: the places of the statement being read
  // lie in its own lines, and places kept for later (an open block, a
  // definition) are taken as line and column when they are read.
  void DiscardTextBehind();
  // Up to here the text is discarded, and searched for line feeds; both go
  // back to 0 whenever a text is loaded.
  uint32_t discardedTo = 0;
  uint32_t scannedTo = 0;
};

}  // namespace kv
