#include "context/pell_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/console.h"
#include "platform/file_system.h"

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

}  // namespace

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
    // Read straight into the contents, whose storage a reopened file keeps.
    // The position is 32 bits wide: a file that (with its NUL) does not fit
    // cannot be addressed and is refused.
    bool loaded = fs.ReadFile(path, &contents, &error);
    if (loaded && contents.size() >= std::numeric_limits<uint32_t>::max()) {
      error = std::strerror(EFBIG);
      loaded = false;
    }
    if (!loaded) {
      contents.clear();
      path.clear();
      mode = 0;
      return false;
    }
    if (!(mode & ModeBinary)) {
      // Text mode: a CR LF pair becomes LF, and the byte 0x1A ends the text.
      // The text only shrinks, so it is compacted in place.
      const void* text_end = std::memchr(contents.data(), kTextModeEnd, contents.size());
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
  contents.clear();  // the storage stays for the next open
  mode = 0;
  isOpen = false;
  modified = false;
  position = 0;
  lineCount = 1;
  line = 1;
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

}  // namespace kv
