// Conversions between the program's text (CP932) and the UTF-16 of the wide
// functions of Windows, through the system's code page tables. Windows only.
#pragma once

#include <string>
#include <string_view>

namespace kv {

// CP932 to UTF-16; bytes that are not CP932 become U+FFFD.
std::wstring Cp932ToWide(std::string_view cp932);
// UTF-16 to CP932, exactly: false when a character has no CP932 form that
// converts back to it (so a name that comes back from CP932 is the same name).
bool WideToCp932Exact(std::wstring_view wide, std::string* cp932);
// UTF-16 to CP932 with '?' for a character that CP932 lacks (the system's
// wording of an error).
std::string WideToCp932(std::wstring_view wide);
// UTF-16 to UTF-8 and back (names quoted as the system gives them, the
// words a test passes to a program).
std::string WideToUtf8(std::wstring_view wide);
std::wstring Utf8ToWide(std::string_view utf8);

// The system's form of a CP932 path for the wide functions, with the "\\?\"
// prefix (made absolute) when it is long enough to need it, or always.
std::wstring SystemPath(const std::string& cp932_path, bool always_long = false);

// The code page of the bytes the console writers are given (UTF-8 or CP932,
// see SetConsoleTextIsUtf8), for the interrupt handler's line.
unsigned ConsoleTextCodePage();

}  // namespace kv
