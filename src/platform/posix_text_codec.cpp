// The conversions of the text module on POSIX, through iconv.
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "platform/text.h"

namespace kv {
namespace {

// The bytes to skip after a sequence the converter refuses.
size_t Utf8Skip(const char* p, size_t left) {
  return std::max<size_t>(1, Utf8CharacterLength(std::string_view(p, left)));
}

size_t OneByte(const char*, size_t) { return 1; }

// The descriptors of the conversions, opened once per thread: a script with
// characters CP932 lacks is converted one character at a time around them,
// and every message of a check is converted on its own.
class Descriptors {
 public:
  ~Descriptors() {
    for (const Entry& e : entries_) iconv_close(e.cd);
  }
  // A descriptor in its initial state; (iconv_t)-1 when the conversion is
  // missing.
  iconv_t Get(const char* to, const char* from) {
    for (const Entry& e : entries_) {
      if (e.to == to && e.from == from) {
        iconv(e.cd, nullptr, nullptr, nullptr, nullptr);
        return e.cd;
      }
    }
    iconv_t cd = iconv_open(to, from);
    if (cd != reinterpret_cast<iconv_t>(-1)) entries_.push_back({to, from, cd});
    return cd;
  }

 private:
  struct Entry {
    std::string to, from;
    iconv_t cd;
  };
  std::vector<Entry> entries_;
};

// Converts with iconv; a sequence the converter refuses is replaced by
// `replacement` and skipped (`refused` says how many bytes), so no input
// stalls it.
std::string Convert(const char* to, const char* from, std::string_view text,
                    std::string_view replacement, size_t (*refused)(const char*, size_t)) {
  thread_local Descriptors descriptors;
  iconv_t cd = descriptors.Get(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(text);
  std::string out;
  out.reserve(text.size() * 2);
  char* in = const_cast<char*>(text.data());
  size_t in_left = text.size();
  char buffer[1024];
  while (in_left > 0) {
    char* dst = buffer;
    size_t dst_left = sizeof buffer;
    size_t r = iconv(cd, &in, &in_left, &dst, &dst_left);
    out.append(buffer, dst - buffer);
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL: an invalid or truncated sequence.
      out.append(replacement);
      size_t skip = refused(in, in_left);
      in += skip;
      in_left -= skip;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  return out;
}

// Converts all of `text` with iconv; false when the conversion is missing or
// refuses a sequence or converts one only approximately.
bool ConvertAll(const char* to, const char* from, std::string_view text, std::string* out) {
  out->clear();
  thread_local Descriptors descriptors;
  iconv_t cd = descriptors.Get(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  char* in = const_cast<char*>(text.data());
  size_t in_left = text.size();
  char buffer[1024];
  bool ok = true;
  while (ok && in_left > 0) {
    char* dst = buffer;
    size_t dst_left = sizeof buffer;
    size_t r = iconv(cd, &in, &in_left, &dst, &dst_left);
    out->append(buffer, dst - buffer);
    if (r == static_cast<size_t>(-1)) {
      ok = errno == E2BIG;
    } else if (r != 0) {
      ok = false;  // irreversible conversions were made
    }
  }
  return ok;
}

// Converts `text` both ways; true when it comes back unchanged.
bool ConvertExactly(const char* to, const char* from, std::string_view text, std::string* out) {
  if (IsAscii(text)) {
    out->assign(text);  // plain ASCII reads the same in both
    return true;
  }
  std::string back;
  return ConvertAll(to, from, text, out) && ConvertAll(from, to, *out, &back) && back == text;
}

}  // namespace

bool Cp932ConversionAvailable() {
  for (auto [to, from] : {std::pair{"UTF-8", "CP932"}, std::pair{"CP932", "UTF-8"}}) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_close(cd);
  }
  return true;
}

std::string Cp932ToUtf8(std::string_view text) {
  if (IsAscii(text)) return std::string(text);  // plain ASCII reads the same in both
  return Convert("UTF-8", "CP932", text, "\xEF\xBF\xBD", OneByte);
}

std::string Utf8ToCp932(std::string_view text) {
  if (IsAscii(text)) return std::string(text);
  return Convert("CP932", "UTF-8", text, "?", Utf8Skip);
}

bool Utf8ToCp932Exact(std::string_view utf8, std::string* cp932) {
  return ConvertExactly("CP932", "UTF-8", utf8, cp932);
}

bool Cp932ToUtf8Exact(std::string_view cp932, std::string* utf8) {
  return ConvertExactly("UTF-8", "CP932", cp932, utf8);
}

}  // namespace kv
