// Console output and the conversions between the program's code page (CP932)
// and UTF-8 that a UTF-8 terminal, the file names of the system and scripts
// saved as UTF-8 need.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace kv {

// True when the console takes UTF-8: on POSIX when the user's locale uses
// UTF-8 (see below), on Windows when standard output is a console, which
// WriteStdout writes as UTF-16 whatever its code page.
bool ConsoleLocaleIsUtf8();

// True where the locale chooses the console encoding (POSIX); false where the
// console does, so that output to a file or pipe is always CP932 (Windows).
extern const bool kLocaleChoosesConsoleEncoding;

// The POSIX choice: the first of LC_ALL, LC_CTYPE and LANG that is set and
// not empty names the locale; it takes UTF-8 when its name says so
// ("C.UTF-8", "ja_JP.utf8", "en_US.UTF-8@euro"), installed or not.
bool LocaleNameIsUtf8(std::string_view locale_name);

// True for a byte that begins a double-byte CP932 character; the byte after
// it belongs to the character, and may be '\' (0x5C, as in "ソ" 83 5C).
inline bool IsCp932LeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// The bytes of the character at `i` of `text`: 2 for a lead byte followed
// by a byte that may follow one (0x40 to 0x7E, 0x80 to 0xFC; '\' among
// them), else 1. A lead byte that is not so followed stands alone (a name
// cut in the middle of a character): never does it take a '/' with it.
inline size_t Cp932CharacterLength(std::string_view text, size_t i) {
  if (i + 1 >= text.size() || !IsCp932LeadByte(static_cast<unsigned char>(text[i]))) return 1;
  const unsigned char next = static_cast<unsigned char>(text[i + 1]);
  return (next >= 0x40 && next <= 0x7E) || (next >= 0x80 && next <= 0xFC) ? 2 : 1;
}

// The length of the UTF-8 character at the start of `text`, or 0 when none
// starts there (an empty text, a stray or cut-short sequence, an overlong
// form, a surrogate).
size_t Utf8CharacterLength(std::string_view text);

// CP932 text to UTF-8; a byte sequence that is not CP932 is replaced by U+FFFD.
std::string Cp932ToUtf8(std::string_view text);
// UTF-8 text to CP932; a character that CP932 lacks becomes '?'.
std::string Utf8ToCp932(std::string_view text);

// Exact conversions, the ones file names go through: false when a character
// has no form on the other side that converts back to it, or the text is not
// valid in its own encoding. "〜" (U+301C) has no CP932 form, since CP932's
// 81 60 reads back as "～" (U+FF5E).
bool Utf8ToCp932Exact(std::string_view utf8, std::string* cp932);
bool Cp932ToUtf8Exact(std::string_view cp932, std::string* utf8);

// Converts the UTF-8 text of a script to CP932, appending to *cp932. Besides
// the exact forms, the characters that other Japanese encodings put where
// CP932 has a look-alike take the look-alike's code ("〜" U+301C, "‖" U+2016,
// "−" U+2212, "—" U+2014, "¢", "£", "¬"), so that a script reads the same on
// every system. A byte that is not UTF-8, or a character with no CP932 form,
// is passed to `refused` with its offset in `utf8` and its length (1 for the
// byte), which may append what stands for it.
void ConvertScriptText(std::string_view utf8, std::string* cp932,
                       const std::function<void(size_t offset, size_t length)>& refused);

// True when the system can convert between CP932 and UTF-8; without it the
// conversions above return their text unchanged (the exact ones fail).
bool Cp932ConversionAvailable();

// How WriteStdout and WriteStderr read the bytes they are given when their
// stream is a Windows console, which they write as UTF-16 (WriteConsoleW):
// UTF-8 (the default, as ConsoleLocaleIsUtf8 says there) or CP932. Files,
// pipes and every output on POSIX get the bytes unchanged.
void SetConsoleTextIsUtf8(bool utf8);

// Writes bytes to standard output; they have reached the terminal, file or
// pipe when it returns, so nothing printed is lost if the program is ended
// from outside. A write that fails is remembered.
void WriteStdout(std::string_view bytes);
// True when every write to standard output so far has succeeded; otherwise
// false, with the system's reason for the first failure in *reason.
bool StdoutIntact(std::string* reason);
// For the systems' WriteStdout: remembers a failed write (the first reason
// stays).
void NoteStdoutFailure(std::string_view reason);
// Writes bytes to standard error.
void WriteStderr(std::string_view bytes);

// True when standard input is a terminal.
bool StdinIsTerminal();
// Reads one character from standard input (any character or the end of input).
void ReadOneChar();

}  // namespace kv
