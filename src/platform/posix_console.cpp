// Console access and code page conversion on POSIX, through the C library's
// locale and iconv.
#include <iconv.h>
#include <langinfo.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/console.h"

namespace kv {
namespace {

// The length of the UTF-8 character at `p` (`left` bytes remain), or 1 when
// no complete character starts there.
size_t Utf8Length(const char* p, size_t left) {
  unsigned char c = static_cast<unsigned char>(*p);
  size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
  if (n > left) return 1;
  for (size_t k = 1; k < n; ++k) {
    if ((static_cast<unsigned char>(p[k]) & 0xC0) != 0x80) return 1;
  }
  return n;
}

size_t OneByte(const char*, size_t) { return 1; }

// Converts with iconv; a sequence the converter refuses is replaced by
// `replacement` and skipped (`refused` says how many bytes), so no input
// stalls it.
std::string Convert(const char* to, const char* from, std::string_view text,
                    std::string_view replacement, size_t (*refused)(const char*, size_t)) {
  iconv_t cd = iconv_open(to, from);
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
  iconv_close(cd);
  return out;
}

}  // namespace

const bool kLocaleChoosesConsoleEncoding = true;

bool Cp932ConversionAvailable() {
  for (auto [to, from] : {std::pair{"UTF-8", "CP932"}, std::pair{"CP932", "UTF-8"}}) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_close(cd);
  }
  return true;
}

bool ConsoleLocaleIsUtf8() {
  if (setlocale(LC_CTYPE, "") == nullptr) return false;
  const char* codeset = nl_langinfo(CODESET);
  bool utf8 = codeset != nullptr &&
              (strcmp(codeset, "UTF-8") == 0 || strcmp(codeset, "utf8") == 0);
  setlocale(LC_CTYPE, "C");
  return utf8;
}

std::string Cp932ToUtf8(std::string_view text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return Convert("UTF-8", "CP932", text, "\xEF\xBF\xBD", OneByte);
  }
  return std::string(text);  // plain ASCII reads the same in both
}

std::string Utf8ToCp932(std::string_view text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return Convert("CP932", "UTF-8", text, "?", Utf8Length);
  }
  return std::string(text);
}

void WriteStdout(std::string_view bytes) {
  if (fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() && fflush(stdout) == 0) return;
  NoteStdoutFailure(std::strerror(errno));
}

void WriteStderr(std::string_view bytes) { fwrite(bytes.data(), 1, bytes.size(), stderr); }

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

void ReadOneChar() { getchar(); }

}  // namespace kv
