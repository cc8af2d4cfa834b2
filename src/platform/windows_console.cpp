// Console access and code page conversion on Windows, through the system's
// code page tables.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/console.h"

namespace kv {
namespace {

constexpr UINT kCp932 = 932;

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

}  // namespace

const bool kLocaleChoosesConsoleEncoding = false;

bool Cp932ConversionAvailable() { return IsValidCodePage(kCp932) != 0; }

bool ConsoleLocaleIsUtf8() {
  DWORD mode;
  bool is_console = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
  return ConsoleCodePageIsUtf8(is_console, GetConsoleOutputCP());
}

std::string Cp932ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 3 / 2);
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    // One character at a time, so that a sequence the table refuses is
    // replaced by U+FFFD and skipped one byte at a time.
    int length = IsLeadByte(c) && i + 1 < text.size() ? 2 : 1;
    wchar_t wide[2];
    int n = MultiByteToWideChar(kCp932, MB_ERR_INVALID_CHARS, text.data() + i, length, wide, 2);
    if (n == 1) {
      AppendUtf8(wide[0], &out);
      i += length;
    } else {
      AppendUtf8(0xFFFD, &out);
      ++i;
    }
  }
  return out;
}

std::string Utf8ToCp932(std::string_view text) {
  bool ascii = true;
  for (unsigned char c : text) ascii = ascii && c < 0x80;
  if (ascii || text.empty()) return std::string(text);
  // Invalid UTF-8 becomes U+FFFD, which CP932 lacks, so it too becomes '?'.
  int wide_length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0);
  std::wstring wide(static_cast<size_t>(wide_length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                      wide_length);
  int length = WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, wide.data(), wide_length,
                                   nullptr, 0, "?", nullptr);
  std::string out(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, wide.data(), wide_length, out.data(), length,
                      "?", nullptr);
  return out;
}

void WriteStdout(std::string_view bytes) {
  // The program's line feeds are written as they are, so a file or pipe gets
  // the same bytes as on other systems (a console shows them as line ends).
  static const bool binary = _setmode(_fileno(stdout), _O_BINARY) != -1;
  (void)binary;
  if (fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() && fflush(stdout) == 0) return;
  NoteStdoutFailure(std::strerror(errno));
}

void WriteStderr(std::string_view bytes) {
  static const bool binary = _setmode(_fileno(stderr), _O_BINARY) != -1;
  (void)binary;
  fwrite(bytes.data(), 1, bytes.size(), stderr);
}

bool StdinIsTerminal() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

void ReadOneChar() { getchar(); }

}  // namespace kv
