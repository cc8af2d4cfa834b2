// Console output and the conversions between the program's code page (CP932)
// and UTF-8 that a UTF-8 terminal needs.
#pragma once

#include <string>
#include <string_view>

namespace kv {

// True when the console takes UTF-8: on POSIX when the user's locale
// (LC_ALL / LC_CTYPE / LANG) uses UTF-8, on Windows when standard output is a
// console whose output code page is 65001.
bool ConsoleLocaleIsUtf8();

// True where the locale chooses the console encoding (POSIX); false where the
// console's code page does, so that output to a file or pipe is always CP932
// (Windows).
extern const bool kLocaleChoosesConsoleEncoding;

// The Windows choice: UTF-8 only for a console on code page 65001; a console
// on code page 932 (or any other) and a file or pipe get CP932 bytes.
bool ConsoleCodePageIsUtf8(bool output_is_console, unsigned output_code_page);

// CP932 text to UTF-8; a byte sequence that is not CP932 is replaced by U+FFFD.
std::string Cp932ToUtf8(std::string_view text);
// UTF-8 text to CP932; a character that CP932 lacks becomes '?'.
std::string Utf8ToCp932(std::string_view text);

// True when the system can convert between CP932 and UTF-8; without it the
// conversions above return their text unchanged.
bool Cp932ConversionAvailable();

// Writes bytes to standard output unchanged; they have reached the terminal,
// file or pipe when it returns, so nothing printed is lost if the program is
// ended from outside. A write that fails is remembered.
void WriteStdout(std::string_view bytes);
// True when every write to standard output so far has succeeded; otherwise
// false, with the system's reason for the first failure in *reason.
bool StdoutIntact(std::string* reason);
// For the systems' WriteStdout: remembers a failed write (the first reason
// stays).
void NoteStdoutFailure(std::string_view reason);
// Writes bytes to standard error unchanged.
void WriteStderr(std::string_view bytes);

// True when standard input is a terminal.
bool StdinIsTerminal();
// Reads one character from standard input (any character or the end of input).
void ReadOneChar();

}  // namespace kv
