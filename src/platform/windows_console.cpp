// Console access on Windows. Text for a console is written as UTF-16, so it reads
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
    if (utf8) {
      n = Utf8ClaimedLength(c);
    } else if (IsCp932LeadByte(c)) {
      n = 2;
    }
    if (i + n > bytes.size()) return i;
    i += n;
  }
  return i;
}

}  // namespace

const bool kLocaleChoosesConsoleEncoding = false;

bool ConsoleLocaleIsUtf8() { return StdoutConsole() != INVALID_HANDLE_VALUE; }

void SetConsoleTextIsUtf8(bool utf8) { g_console_text_is_utf8 = utf8; }

unsigned ConsoleTextCodePage() { return g_console_text_is_utf8 ? CP_UTF8 : 932; }

namespace {

// Writes text to a console as UTF-16; `pending` keeps a character cut at the
// end of one write for the next.
void WriteToConsole(HANDLE console, std::string_view bytes, std::string* pending) {
  pending->append(bytes);
  const size_t whole = WholeCharacters(*pending, g_console_text_is_utf8);
  const std::string_view text = std::string_view(*pending).substr(0, whole);
  const std::wstring wide = g_console_text_is_utf8 ? Utf8ToWide(text) : Cp932ToWide(text);
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
