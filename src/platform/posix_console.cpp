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

// Converts with iconv; a sequence the converter refuses is replaced by
// `replacement` and skipped one byte at a time, so no input stalls it.
std::string Convert(const char* to, const char* from, std::string_view text,
                    std::string_view replacement) {
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
      ++in;
      --in_left;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
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
    if (c >= 0x80) return Convert("UTF-8", "CP932", text, "\xEF\xBF\xBD");
  }
  return std::string(text);  // plain ASCII reads the same in both
}

std::string Utf8ToCp932(std::string_view text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return Convert("CP932", "UTF-8", text, "?");
  }
  return std::string(text);
}

void WriteStdout(std::string_view bytes) { fwrite(bytes.data(), 1, bytes.size(), stdout); }

void FlushStdout() { fflush(stdout); }

void WriteStderr(std::string_view bytes) { fwrite(bytes.data(), 1, bytes.size(), stderr); }

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

void ReadOneChar() { getchar(); }

}  // namespace kv
