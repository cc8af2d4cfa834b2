// PellFile: a whole file in memory with a read/write cursor that also tracks
// the line number in text mode, and a small printf/scanf-like format language
// whose conversions give raw binary values in binary mode and decimal text
// otherwise. KCFile adds FileClose, which scrambles the contents before the
// one write back to disk.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace kv {

class Diagnostics;
class FileSystem;

enum OpenMode : uint32_t {
  ModeRead = 0x001,
  ModeWrite = 0x002,
  ModeAppend = 0x010,
  ModeTruncate = 0x020,
  ModeBinary = 0x100,
};

inline constexpr int EndOfData = -3;

// Reports shared by every user of the file layer: a file that cannot be
// opened under the given name, and the two failures of KCFile::FileClose.
inline constexpr std::string_view kMsgNameMayBeWrong =
    "\"%s\" 指定した名前が間違っている可能性があります\n間違っていない場合は内部エラーです\n";
inline constexpr std::string_view kMsgCloseClosedFile =
    "KCFile::FileClose(1) 閉じられたファイルをさらに閉じようとした\n";
inline constexpr std::string_view kMsgCloseWriteFailed =
    "KCFile::FileClose(2) ファイルへの書き込みに失敗\n";
// Plain lines that follow such a report with the file and the system's reason.
inline constexpr std::string_view kMsgCannotWrite = "\"%s\" に書き込めませんでした: %s\n";
inline constexpr std::string_view kMsgCannotRead = "\"%s\" を読み込めませんでした: %s\n";

// One argument of FilePrint: %c and %i take a 32-bit integer, %f and %d a
// double, %s a string (written up to its first NUL byte).
class PrintArg {
 public:
  PrintArg(int32_t v) : kind_(kInt), int_(v) {}
  PrintArg(double v) : kind_(kDouble), double_(v) {}
  PrintArg(std::string_view s) : kind_(kString), string_(s) {}
  PrintArg(const char* s) : kind_(kString), string_(s) {}
  PrintArg(const std::string& s) : kind_(kString), string_(s) {}
  enum Kind { kInt, kDouble, kString };
  Kind kind() const { return kind_; }
  int32_t as_int() const { return int_; }
  double as_double() const { return double_; }
  std::string_view as_string() const { return string_; }

 private:
  Kind kind_;
  int32_t int_ = 0;
  double double_ = 0;
  std::string_view string_;
};

// One argument of FileScan: %c stores a byte, %d a double, %f a float, %i a
// 32-bit integer, a string read fills a std::string.
class ScanArg {
 public:
  ScanArg(uint8_t* p) : kind_(kByte), ptr_(p) {}
  ScanArg(double* p) : kind_(kDouble), ptr_(p) {}
  ScanArg(float* p) : kind_(kFloat), ptr_(p) {}
  ScanArg(int32_t* p) : kind_(kInt), ptr_(p) {}
  ScanArg(std::string* p) : kind_(kString), ptr_(p) {}
  enum Kind { kByte, kDouble, kFloat, kInt, kString };
  Kind kind() const { return kind_; }
  template <typename T> T* as() const { return static_cast<T*>(ptr_); }

 private:
  Kind kind_;
  void* ptr_;
};

class PellFile {
 public:
  explicit PellFile(FileSystem& fs);
  virtual ~PellFile();
  PellFile(const PellFile&) = delete;
  PellFile& operator=(const PellFile&) = delete;

  bool FileOpen(const std::string& path, uint32_t mode);
  void Reset();
  // Writes the whole contents to `path` when the file is open, modified and
  // writable (through a temporary file renamed into place). False only when
  // the file cannot be written.
  bool FileFlush();

  bool GetChar(uint8_t* c);
  bool PeekChar(uint8_t* c);
  int ReadBytes(char* buffer, size_t n);
  // Reads until a byte of `stop` is next, the contents end, or width - 1
  // bytes were stored (then returns width).
  int ReadUntil(std::string* out, std::string_view stop, int width);
  size_t ReadNumber(double* value);
  int SkipSpace();
  bool FileSeek(int64_t offset, int origin);

  bool FilePrint(std::string_view format, std::initializer_list<PrintArg> args = {});
  int FileScan(int default_width, std::string_view format,
               std::initializer_list<ScanArg> args = {});

  // Writes raw bytes at `position` exactly as FilePrint writes its collected
  // bytes (append at the end, overwrite inside, extend past the end); the
  // fast path of the code encoders. False when not open or not writable.
  // Appending, what the encoders nearly always do, is done inline.
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
  std::string error;  // the system's reason for the last failed load or write
  uint32_t position = 0;
  int32_t line = 0;

 private:
  // The position is 32 bits wide and one value is kept free.
  static constexpr uint32_t kLastPosition = UINT32_MAX - 1;
  bool WriteBytesAt(const char* data, size_t n);
  // The bytes FilePrint collects (kept for their storage).
  std::string print_buffer_;
};

class KCFile : public PellFile {
 public:
  using PellFile::PellFile;
  // Scrambles the contents with a key drawn from `seed`, writes them back and
  // resets the file. Reports its failures through `log`.
  bool FileClose(Diagnostics& log, uint32_t seed);
};

}  // namespace kv
