// Console access and code page conversion on Windows, through the system's
// code page tables. Text for a console is written as UTF-16, so it reads
// right whatever the console's code page; files and pipes get the bytes.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/console.h"
#include "platform/windows_text.h"

namespace kv {
namespace {

constexpr UINT kCp932 = 932;

// `text` in the code page `code_page` to UTF-16; `flags` as
// MultiByteToWideChar takes them. False when the flags refuse a sequence.
bool ToWide(UINT code_page, DWORD flags, std::string_view text, std::wstring* wide) {
  wide->clear();
  if (text.empty()) return true;
  const int length = MultiByteToWideChar(code_page, flags, text.data(),
                                         static_cast<int>(text.size()), nullptr, 0);
  if (length == 0) return false;
  wide->resize(static_cast<size_t>(length));
  return MultiByteToWideChar(code_page, flags, text.data(), static_cast<int>(text.size()),
                             wide->data(), length) == length;
}

// UTF-16 to the code page `code_page`. When `used_default` is given, a
// character without a form of its own there sets it.
std::string FromWide(UINT code_page, DWORD flags, std::wstring_view wide, BOOL* used_default) {
  if (wide.empty()) return "";
  const char* fallback = used_default != nullptr ? "?" : nullptr;
  const int length = WideCharToMultiByte(code_page, flags, wide.data(),
                                         static_cast<int>(wide.size()), nullptr, 0, fallback,
                                         used_default);
  std::string out(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(code_page, flags, wide.data(), static_cast<int>(wide.size()), out.data(),
                      length, fallback, used_default);
  return out;
}

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

bool IsAscii(std::string_view text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

bool g_console_text_is_utf8 = true;

// The console that standard output or standard error is, or
// INVALID_HANDLE_VALUE when it is a file or a pipe.
HANDLE ConsoleOf(DWORD standard_handle) {
  HANDLE handle = GetStdHandle(standard_handle);
  DWORD mode;
  return GetConsoleMode(handle, &mode) ? handle : INVALID_HANDLE_VALUE;
}

HANDLE StdoutConsole() {
  static const HANDLE console = ConsoleOf(STD_OUTPUT_HANDLE);
  return console;
}

HANDLE StderrConsole() {
  static const HANDLE console = ConsoleOf(STD_ERROR_HANDLE);
  return console;
}

// The length of the longest start of `bytes` that ends on a whole character:
// a character cut at the end of one write is finished by the next.
size_t WholeCharacters(std::string_view bytes, bool utf8) {
  size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    size_t n = 1;
    if (utf8 && c >= 0xC0) {
      n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    } else if (!utf8 && IsCp932LeadByte(c)) {
      n = 2;
    }
    if (i + n > bytes.size()) return i;
    i += n;
  }
  return i;
}

}  // namespace

std::wstring Cp932ToWide(std::string_view cp932) {
  std::wstring wide;
  ToWide(kCp932, 0, cp932, &wide);
  return wide;
}

bool WideToCp932Exact(std::wstring_view wide, std::string* cp932) {
  BOOL used_default = FALSE;
  *cp932 = FromWide(kCp932, WC_NO_BEST_FIT_CHARS, wide, &used_default);
  std::wstring back;
  return !used_default && ToWide(kCp932, MB_ERR_INVALID_CHARS, *cp932, &back) && back == wide;
}

std::string WideToCp932(std::wstring_view wide) {
  BOOL used_default = FALSE;
  return FromWide(kCp932, WC_NO_BEST_FIT_CHARS, wide, &used_default);
}

std::string WideToUtf8(std::wstring_view wide) { return FromWide(CP_UTF8, 0, wide, nullptr); }

std::wstring Utf8ToWide(std::string_view utf8) {
  std::wstring wide;
  ToWide(CP_UTF8, 0, utf8, &wide);
  return wide;
}

const bool kLocaleChoosesConsoleEncoding = false;

bool Cp932ConversionAvailable() { return IsValidCodePage(kCp932) != 0; }

bool ConsoleLocaleIsUtf8() { return StdoutConsole() != INVALID_HANDLE_VALUE; }

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
    int length = IsCp932LeadByte(c) && i + 1 < text.size() ? 2 : 1;
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
  if (IsAscii(text)) return std::string(text);
  // Invalid UTF-8 becomes U+FFFD, which CP932 lacks, so it too becomes '?';
  // so does a character beyond U+FFFF, once, not once per surrogate.
  std::wstring wide = Utf8ToWide(text);
  size_t out = 0;
  for (size_t i = 0; i < wide.size(); ++i, ++out) {
    const bool pair = IS_HIGH_SURROGATE(wide[i]) && i + 1 < wide.size() &&
                      IS_LOW_SURROGATE(wide[i + 1]);
    wide[out] = pair ? L'\xFFFD' : wide[i];
    if (pair) ++i;
  }
  wide.resize(out);
  BOOL used_default = FALSE;
  return FromWide(kCp932, WC_NO_BEST_FIT_CHARS, wide, &used_default);
}

bool Utf8ToCp932Exact(std::string_view utf8, std::string* cp932) {
  if (IsAscii(utf8)) {
    cp932->assign(utf8);
    return true;
  }
  std::wstring wide;
  return ToWide(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, &wide) && WideToCp932Exact(wide, cp932);
}

bool Cp932ToUtf8Exact(std::string_view cp932, std::string* utf8) {
  if (IsAscii(cp932)) {
    utf8->assign(cp932);
    return true;
  }
  std::wstring wide;
  std::string back;
  if (!ToWide(kCp932, MB_ERR_INVALID_CHARS, cp932, &wide) || !WideToCp932Exact(wide, &back) ||
      back != cp932) {
    return false;
  }
  *utf8 = WideToUtf8(wide);
  return true;
}

void SetConsoleTextIsUtf8(bool utf8) { g_console_text_is_utf8 = utf8; }

unsigned ConsoleTextCodePage() { return g_console_text_is_utf8 ? CP_UTF8 : kCp932; }

namespace {

// Writes text to a console as UTF-16; `pending` keeps a character cut at the
// end of one write for the next.
void WriteToConsole(HANDLE console, std::string_view bytes, std::string* pending) {
  pending->append(bytes);
  const size_t whole = WholeCharacters(*pending, g_console_text_is_utf8);
  std::wstring wide;
  ToWide(g_console_text_is_utf8 ? CP_UTF8 : kCp932, 0, std::string_view(*pending).substr(0, whole),
         &wide);
  pending->erase(0, whole);
  DWORD written = 0;
  for (size_t at = 0; at < wide.size(); at += written) {
    if (!WriteConsoleW(console, wide.data() + at, static_cast<DWORD>(wide.size() - at), &written,
                       nullptr) ||
        written == 0) {
      break;
    }
  }
}

// Writes bytes to a file or a pipe as they are: the program's line feeds stay
// line feeds, so the bytes are those of other systems. False when not all
// of them could be written.
bool WriteBinary(FILE* stream, std::string_view bytes, bool* binary) {
  if (!*binary) *binary = _setmode(_fileno(stream), _O_BINARY) != -1;
  return fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
}

}  // namespace

void WriteStdout(std::string_view bytes) {
  static std::string pending;
  static bool binary = false;
  if (StdoutConsole() != INVALID_HANDLE_VALUE) {
    WriteToConsole(StdoutConsole(), bytes, &pending);
  } else if (!WriteBinary(stdout, bytes, &binary) || fflush(stdout) != 0) {
    NoteStdoutFailure(std::strerror(errno));
  }
}

void WriteStderr(std::string_view bytes) {
  static std::string pending;
  static bool binary = false;
  if (StderrConsole() != INVALID_HANDLE_VALUE) {
    WriteToConsole(StderrConsole(), bytes, &pending);
  } else {
    WriteBinary(stderr, bytes, &binary);
  }
}

bool StdinIsTerminal() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

void ReadOneChar() { getchar(); }

}  // namespace kv
