// PellFile: a whole file in memory with a read/write cursor that also tracks
// the line number in text mode. Scripts are loaded into one, and each
// script's compiled code grows in one (its temporary object); object files
// are written by the output layer, never from here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

class FileSystem;

enum OpenMode : uint32_t {
  ModeRead = 0x001,
  ModeWrite = 0x002,
  ModeAppend = 0x010,
  ModeTruncate = 0x020,
  ModeBinary = 0x100,
};

inline constexpr int EndOfData = -3;

// A file loaded in text mode ends at this byte (and its CR LF pairs become
// LF), so no script holds it.
inline constexpr char kTextModeEnd = 0x1A;

// Reports shared by every user of the file layer: a file that cannot be
// opened under the given name, a temporary object closed twice, and an
// object file that cannot be written.
inline constexpr std::string_view kMsgNameMayBeWrong =
    "\"%s\" 指定した名前が間違っている可能性があります\n間違っていない場合は内部エラーです\n";
inline constexpr std::string_view kMsgCloseClosedFile =
    "KCFile::FileClose(1) 閉じられたファイルをさらに閉じようとした\n";
inline constexpr std::string_view kMsgCloseWriteFailed =
    "KCFile::FileClose(2) ファイルへの書き込みに失敗\n";
// Plain lines that follow such a report with the file and the system's reason.
inline constexpr std::string_view kMsgCannotWrite = "\"%s\" に書き込めませんでした: %s\n";
inline constexpr std::string_view kMsgCannotRead = "\"%s\" を読み込めませんでした: %s\n";

class PellFile {
 public:
  explicit PellFile(FileSystem& fs);
  virtual ~PellFile();
  PellFile(const PellFile&) = delete;
  PellFile& operator=(const PellFile&) = delete;

  bool FileOpen(const std::string& path, uint32_t mode);
  // Closes the file without writing it; the contents' storage is kept.
  void Reset();
  bool FileSeek(int64_t offset, int origin);

  // Writes raw bytes at `position` (append at the end, overwrite inside,
  // extend past the end). False when not open or not writable. Appending,
  // what the encoders nearly always do, is done inline.
  bool WriteBytes(const char* data, size_t n) {
    if (position == contents.size() && n != 0 && n <= kLastPosition - position && isOpen &&
        (mode & ModeWrite)) {
      contents.append(data, n);
      position += static_cast<uint32_t>(n);
      modified = true;
      return true;
    }
    return WriteBytesAt(data, n);
  }
  // Appends `n` bytes for the caller to fill, as WriteBytes would append
  // them, when the position is at the end; null, with nothing changed, when
  // it is not or the bytes cannot be written. Lets an encoder build several
  // entries in place.
  char* AppendInPlace(size_t n) {
    if (position != contents.size() || n == 0 || n > kLastPosition - position || !isOpen ||
        !(mode & ModeWrite)) {
      return nullptr;
    }
    contents.resize(contents.size() + n);
    position += static_cast<uint32_t>(n);
    modified = true;
    return contents.data() + contents.size() - n;
  }

  FileSystem& fs;
  int32_t lineCount = 1;
  bool isOpen = false;
  bool modified = false;
  uint32_t mode = 0;
  std::string path;
  std::string contents;
  std::string error;  // the system's reason for the last failed load
  uint32_t position = 0;
  int32_t line = 0;

 private:
  // The position is 32 bits wide and one value is kept free.
  static constexpr uint32_t kLastPosition = UINT32_MAX - 1;
  bool WriteBytesAt(const char* data, size_t n);
};

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

// The converter's files: loaded scripts and temporary objects.
class KCFile : public PellFile {
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

  // A temporary object's code: its contents until its script is finished,
  // then kept elsewhere (see KCSystem::KeepCode); a check, which writes no
  // object, keeps only its size.
  std::string_view Code() const { return codeKept ? keptCode : contents; }
  size_t CodeSize() const { return codeKept ? keptCodeSize : contents.size(); }
  bool HasCode() const { return codeKept || !contents.empty(); }

  bool codeKept = false;
  std::string_view keptCode;
  size_t keptCodeSize = 0;
};

}  // namespace kv
