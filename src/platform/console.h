// Console output and the conversions between the program's code page (CP932)
// and UTF-8 that a UTF-8 terminal needs.
#pragma once

#include <string>
#include <string_view>

namespace kv {

// True when the user's locale (LC_ALL / LC_CTYPE / LANG) uses UTF-8.
bool ConsoleLocaleIsUtf8();

// CP932 text to UTF-8; a byte sequence that is not CP932 is replaced by U+FFFD.
std::string Cp932ToUtf8(std::string_view text);
// UTF-8 text to CP932; a character that CP932 lacks becomes '?'.
std::string Utf8ToCp932(std::string_view text);

// True when the system can convert between CP932 and UTF-8; without it the
// conversions above return their text unchanged.
bool Cp932ConversionAvailable();

// Writes bytes to standard output unchanged.
void WriteStdout(std::string_view bytes);
void FlushStdout();
// Writes bytes to standard error unchanged.
void WriteStderr(std::string_view bytes);

// True when standard input is a terminal.
bool StdinIsTerminal();
// Reads one character from standard input (any character or the end of input).
void ReadOneChar();

}  // namespace kv
