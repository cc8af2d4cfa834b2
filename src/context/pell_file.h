// PellFile: a whole file in memory with a read/write cursor that also tracks
// the line number in text mode. A script's text is loaded into one (a
// SourceText), and each script's compiled code grows in one (its temporary
// object, a KCFile); object files are written by the output layer, never
// from here.
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

// The line feeds among `n` bytes, counted a word at a time.
int32_t CountLineFeeds(const char* p, size_t n);

}  // namespace kv
