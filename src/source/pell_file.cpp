#include "source/pell_file.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cerrno>
#include <cstring>
#include <limits>

#include "driver/diagnostics.h"
#include "output/scramble_object.h"
#include "platform/file_system.h"
#include "source/numbers.h"

namespace kv {
namespace {


// The open modes a file may be opened with. Modes 0x001, 0x003 and 0x013 load
// in text mode, 0x101, 0x103 and 0x113 in binary mode; the others start empty.
constexpr std::array<uint32_t, 14> kAcceptedModes = {
    0x001, 0x002, 0x003, 0x012, 0x013, 0x022, 0x023,
    0x101, 0x102, 0x103, 0x112, 0x113, 0x122, 0x123,
};

constexpr uint8_t kLineFeed = 0x0A;
constexpr char kCarriageReturn = 0x0D;
constexpr uint8_t kTextEnd = 0x1A;  // ends the text of a file loaded in text mode

// The width of the number buffer of the text-mode print conversions.
constexpr size_t kNumberTextSize = 32;

bool IsLeadByte(uint8_t c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xEF); }

bool IsSpace(uint8_t c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

// The line feeds among `n` bytes, eight bytes at a time. After the
// exclusive-or a line feed is a zero byte, and the zero bytes of x are those
// whose high bit stays clear in ((x & 0x7F..7F) + 0x7F..7F) | x; their high
// bits, moved to the low ones, are summed by one multiplication.
int32_t CountLineFeeds(const char* p, size_t n) {
  constexpr uint64_t kOnes = 0x0101010101010101u;
  constexpr uint64_t kLow7 = 0x7F * kOnes;
  uint64_t count = 0;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    std::memcpy(&word, p + i, 8);
    const uint64_t x = word ^ (kLineFeed * kOnes);
    const uint64_t zero_bytes = ~(((x & kLow7) + kLow7) | x) & (0x80 * kOnes);
    count += ((zero_bytes >> 7) * kOnes) >> 56;
  }
  for (; i < n; ++i) count += p[i] == kLineFeed;
  return static_cast<int32_t>(count);
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

void AppendFixed32(std::string* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void AppendFixed64(std::string* out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

uint32_t DecodeFixed32(const char* p) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(static_cast<uint8_t>(p[i])) << (8 * i);
  return value;
}

uint64_t DecodeFixed64(const char* p) {
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value |= static_cast<uint64_t>(static_cast<uint8_t>(p[i])) << (8 * i);
  return value;
}

// A double truncated toward zero to 32 bits; values out of range saturate and
// NaN gives 0, where a plain conversion would be undefined.
int32_t TruncateToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

bool NumericArg(const PrintArg& arg, double* value) {
  if (arg.kind() == PrintArg::kInt) {
    *value = arg.as_int();
    return true;
  }
  if (arg.kind() == PrintArg::kDouble) {
    *value = arg.as_double();
    return true;
  }
  return false;
}

bool AppendNumberText(std::string* out, int fraction_digits, double value) {
  char buffer[kNumberTextSize];
  if (!NumberToText(buffer, sizeof buffer, fraction_digits, value)) return false;
  out->append(buffer);
  return true;
}

// Produces the bytes of one print conversion; false when the conversion
// letter is unknown or the argument does not fit it.
bool FormatConversion(char letter, bool binary, const PrintArg* arg, std::string* out) {
  if (letter == '%') {
    out->push_back('%');
    return true;
  }
  if (arg == nullptr) return false;
  if (letter == 's') {
    if (arg->kind() != PrintArg::kString) return false;
    std::string_view text = arg->as_string();
    out->append(text.substr(0, text.find('\0')));
    return true;
  }
  double value = 0;
  if (!NumericArg(*arg, &value)) return false;
  switch (letter) {
    case 'c':
      out->push_back(static_cast<char>(TruncateToInt32(value) & 0xFF));
      return true;
    case 'i':
      if (binary) {
        AppendFixed32(out, static_cast<uint32_t>(TruncateToInt32(value)));
        return true;
      }
      return AppendNumberText(out, 0, static_cast<double>(TruncateToInt32(value)));
    case 'f': {
      const float narrowed = static_cast<float>(value);
      if (binary) {
        AppendFixed32(out, std::bit_cast<uint32_t>(narrowed));
        return true;
      }
      return AppendNumberText(out, 6, narrowed);
    }
    case 'd':
      if (binary) {
        AppendFixed64(out, std::bit_cast<uint64_t>(value));
        return true;
      }
      return AppendNumberText(out, 10, value);
    default:
      return false;
  }
}

}  // namespace

PellFile::PellFile(FileSystem& file_system) : fs(file_system) {}

PellFile::~PellFile() { Reset(); }

bool PellFile::FileOpen(const std::string& file_path, uint32_t open_mode) {
  if (isOpen) Reset();
  if (std::find(kAcceptedModes.begin(), kAcceptedModes.end(), open_mode) == kAcceptedModes.end()) {
    return false;
  }
  path = file_path;
  mode = open_mode;
  contents.clear();
  lineCount = 1;

  if ((mode & ModeRead) && !(mode & ModeTruncate)) {
    std::string data;
    // The position is 32 bits wide: a file that (with its NUL) does not fit
    // cannot be addressed and is refused.
    bool loaded = fs.ReadFile(path, &data, &error);
    if (loaded && data.size() >= std::numeric_limits<uint32_t>::max()) {
      error = std::strerror(EFBIG);
      loaded = false;
    }
    if (!loaded) {
      path.clear();
      mode = 0;
      return false;
    }
    contents = std::move(data);
    if (!(mode & ModeBinary)) {
      // Text mode: a CR LF pair becomes LF, and the byte 0x1A ends the text.
      // The text only shrinks, so it is compacted in place.
      const void* text_end = std::memchr(contents.data(), kTextEnd, contents.size());
      const size_t end = text_end ? static_cast<const char*>(text_end) - contents.data() : contents.size();
      char* const p = contents.data();
      size_t out = 0;
      size_t i = 0;
      while (i < end) {
        const void* cr = std::memchr(p + i, kCarriageReturn, end - i);
        const size_t next = cr ? static_cast<const char*>(cr) - p : end;
        if (out != i) std::memmove(p + out, p + i, next - i);
        out += next - i;
        i = next;
        if (i == end) break;
        // The CR of a CR LF pair is dropped; a lone CR stays.
        if (i + 1 >= end || p[i + 1] != '\n') p[out++] = kCarriageReturn;
        ++i;
      }
      contents.resize(out);
    }
    lineCount += CountLineFeeds(contents.data(), contents.size());
    contents.push_back('\0');
  }

  position = 0;
  line = 1;
  if (mode & ModeAppend) {
    position = static_cast<uint32_t>(contents.size());
    line = lineCount;
  }
  isOpen = true;
  return true;
}

void PellFile::Reset() {
  if (!isOpen) return;
  path.clear();
  contents.clear();
  contents.shrink_to_fit();
  mode = 0;
  isOpen = false;
  modified = false;
  position = 0;
  lineCount = 1;
  line = 1;
}

bool PellFile::FileFlush() {
  if (!isOpen || !modified || !(mode & ModeWrite)) return true;
  return WriteWholeFile(fs, path, contents, &error);
}

bool PellFile::GetChar(uint8_t* c) {
  if (position >= contents.size()) return false;
  *c = static_cast<uint8_t>(contents[position]);
  if (!(mode & ModeBinary) && *c == kLineFeed) ++line;
  ++position;
  return true;
}

bool PellFile::PeekChar(uint8_t* c) {
  if (position >= contents.size()) return false;
  *c = static_cast<uint8_t>(contents[position]);
  return true;
}

int PellFile::ReadBytes(char* buffer, size_t n) {
  const size_t available = contents.size() - position;
  const size_t count = std::min(n, available);
  std::memcpy(buffer, contents.data() + position, count);
  if (!(mode & ModeBinary)) {
    line += CountLineFeeds(contents.data() + position, count);
  }
  position += static_cast<uint32_t>(count);
  return count < n ? EndOfData : 0;
}

int PellFile::ReadUntil(std::string* out, std::string_view stop, int width) {
  out->clear();
  if (width <= 0) return 0;
  bool is_stop[256] = {};
  for (char c : stop) {
    if (c != '\0') is_stop[static_cast<uint8_t>(c)] = true;
  }
  const size_t limit = static_cast<size_t>(width) - 1;
  size_t end = position;
  while (end < contents.size() && end - position < limit &&
         !is_stop[static_cast<uint8_t>(contents[end])]) {
    ++end;
  }
  const size_t stored = end - position;
  out->assign(contents, position, stored);
  if (!(mode & ModeBinary)) line += CountLineFeeds(out->data(), out->size());
  position = static_cast<uint32_t>(end);
  // Stopping because the width is used up reports the width itself; the width
  // is tested before the next byte is looked at.
  return stored == limit ? width : static_cast<int>(stored);
}

size_t PellFile::ReadNumber(double* value) {
  size_t consumed = 0;
  const std::string_view text = std::string_view(contents).substr(position);
  const size_t count = ReadNumberText(text, value, &consumed);
  // A number never holds a line feed, so the line stays as it is.
  position += static_cast<uint32_t>(std::min(consumed, text.size()));
  return count;
}

int PellFile::SkipSpace() {
  while (position < contents.size()) {
    const uint8_t c = static_cast<uint8_t>(contents[position]);
    if (c == '\0') return EndOfData;
    if (!IsSpace(c)) return 0;
    if (!(mode & ModeBinary) && c == kLineFeed) ++line;
    ++position;
  }
  return EndOfData;
}

bool PellFile::FileSeek(int64_t offset, int origin) {
  if (!isOpen) return false;
  const bool text = !(mode & ModeBinary);
  if (origin == 0) {
    position = 0;
    line = 1;
  } else if (origin == 2) {
    position = static_cast<uint32_t>(contents.size());
    line = lineCount;
  }
  if (offset == 0) return true;
  const uint64_t distance = offset < 0 ? 0 - static_cast<uint64_t>(offset) : static_cast<uint64_t>(offset);
  if (offset < 0 && distance > position) {
    position = 0;
    line = 1;
    return true;
  }
  if (offset > 0 && distance > contents.size() - position) {
    // Past the end: the last byte (the start of an empty file).
    position = contents.empty() ? 0 : static_cast<uint32_t>(contents.size() - 1);
    line = lineCount;
    return true;
  }
  if (offset > 0) {
    const size_t end = position + static_cast<size_t>(distance);
    if (text) {
      line += CountLineFeeds(contents.data() + position, end - position);
    }
    position = static_cast<uint32_t>(end);
  } else {
    const size_t start = position - static_cast<size_t>(distance);
    if (text) {
      line -= CountLineFeeds(contents.data() + start, position - start);
    }
    position = static_cast<uint32_t>(start);
  }
  return true;
}

bool PellFile::FilePrint(std::string_view format, std::initializer_list<PrintArg> args) {
  if (!isOpen || !(mode & ModeWrite)) return false;
  const bool binary = (mode & ModeBinary) != 0;
  std::string& produced = print_buffer_;
  produced.clear();
  const PrintArg* next_arg = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (IsLeadByte(static_cast<uint8_t>(c))) {
      produced.push_back(c);
      if (i + 1 < format.size()) produced.push_back(format[++i]);
      continue;
    }
    if (c != '%') {
      produced.push_back(c);
      continue;
    }
    if (i + 1 == format.size()) return true;  // a lone '%' at the end: nothing is written
    const char letter = LowerAscii(format[++i]);
    const PrintArg* arg = nullptr;
    if (letter != '%' && next_arg != args.end()) arg = next_arg++;
    if (!FormatConversion(letter, binary, arg, &produced)) return true;
  }
  return WriteBytes(produced.data(), produced.size());
}

bool PellFile::WriteBytesAt(const char* data, size_t n) {
  if (!isOpen || !(mode & ModeWrite)) return false;
  if (n == 0) return true;
  if (n > kLastPosition - position) return false;
  if (position == contents.size()) {
    contents.append(data, n);
  } else {
    const size_t overlap = std::min(n, contents.size() - position);
    contents.replace(position, overlap, data, n);
  }
  position += static_cast<uint32_t>(n);
  modified = true;
  return true;
}

int PellFile::FileScan(int default_width, std::string_view format,
                       std::initializer_list<ScanArg> args) {
  if (!isOpen || !(mode & ModeRead)) return -1;
  const bool binary = (mode & ModeBinary) != 0;
  const ScanArg* next_arg = args.begin();
  auto take_arg = [&](ScanArg::Kind kind) -> const ScanArg* {
    if (next_arg == args.end() || next_arg->kind() != kind) return nullptr;
    return next_arg++;
  };
  int count = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c != '%') {
      // A literal byte (both bytes of a Shift-JIS pair) must come next.
      const size_t length = (IsLeadByte(static_cast<uint8_t>(c)) && i + 1 < format.size()) ? 2 : 1;
      for (size_t k = 0; k < length; ++k) {
        uint8_t got = 0;
        if (!PeekChar(&got) || got != static_cast<uint8_t>(format[i + k])) return -1;
        GetChar(&got);
        ++count;
      }
      i += length - 1;
      continue;
    }
    if (i + 1 == format.size()) return -1;
    const char letter = LowerAscii(format[i + 1]);
    if (letter == '%' && !binary) {
      ++i;
      uint8_t got = 0;
      if (!PeekChar(&got) || got != '%') return -1;
      GetChar(&got);
      ++count;
      continue;
    }
    if (letter == 'c') {
      ++i;
      const ScanArg* arg = take_arg(ScanArg::kByte);
      uint8_t got = 0;
      if (arg == nullptr || !GetChar(&got)) return -1;
      *arg->as<uint8_t>() = got;
      ++count;
      continue;
    }
    if (letter == 'd' || letter == 'f' || letter == 'i') {
      ++i;
      const ScanArg::Kind kind = letter == 'd' ? ScanArg::kDouble
                                 : letter == 'f' ? ScanArg::kFloat
                                                 : ScanArg::kInt;
      const ScanArg* arg = take_arg(kind);
      if (arg == nullptr) return -1;
      if (binary) {
        char bytes[8];
        const size_t size = letter == 'd' ? 8 : 4;
        if (ReadBytes(bytes, size) == EndOfData) return EndOfData;
        if (letter == 'd') {
          *arg->as<double>() = std::bit_cast<double>(DecodeFixed64(bytes));
        } else if (letter == 'f') {
          *arg->as<float>() = std::bit_cast<float>(DecodeFixed32(bytes));
        } else {
          *arg->as<int32_t>() = static_cast<int32_t>(DecodeFixed32(bytes));
        }
        count += static_cast<int>(size);
        continue;
      }
      double value = 0;
      const size_t converted = ReadNumber(&value);
      if (converted == 0) return 0;
      if (letter == 'd') {
        *arg->as<double>() = value;
      } else if (letter == 'f') {
        *arg->as<float>() = static_cast<float>(value);
      } else {
        *arg->as<int32_t>() = TruncateToInt32(value);
      }
      count += static_cast<int>(converted);
      continue;
    }
    // String read: an optional width, then the stop characters up to 's'.
    size_t cursor = i + 1;
    int width = default_width;
    int32_t parsed = 0;
    const size_t digits = ParseInteger(format.substr(cursor), &parsed);
    if (digits > 0) {
      cursor += digits;
      if (parsed >= 0) width = parsed;
    }
    size_t end = cursor;
    while (end < format.size() && format[end] != 's' && format[end] != 'S') ++end;
    if (end == format.size()) return -1;
    const ScanArg* arg = take_arg(ScanArg::kString);
    if (arg == nullptr) return -1;
    const int stored = ReadUntil(arg->as<std::string>(), format.substr(cursor, end - cursor), width);
    if (stored <= 0) return binary ? 0 : count;
    count += stored;
    i = end;
  }
  return count;
}

bool KCFile::FileClose(Diagnostics& log, uint32_t seed) {
  if (!isOpen) {
    log.InternalError(kMsgCloseClosedFile);
    return true;
  }
  ScrambleObject(*this, seed);
  if (!FileFlush()) {
    log.InternalError(kMsgCloseWriteFailed);
    log.Message(kMsgCannotWrite, {LogArg::Path(path), LogArg::Path(error)});
    return false;
  }
  Reset();
  return true;
}

}  // namespace kv
