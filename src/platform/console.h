// Console output, in the encoding the terminal takes; the conversions it
// needs come from the text module.
#pragma once

#include <string>
#include <string_view>

#include "platform/text.h"

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
