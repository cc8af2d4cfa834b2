// The program's one place for text encodings: what a CP932 byte begins,
// how UTF-8 is decoded and encoded, and the conversions between CP932 (the
// program's text) and UTF-8 (terminals, editors, file names of POSIX,
// scripts saved as UTF-8). The conversions themselves go through the
// system's tables (iconv on POSIX, the code page tables on Windows).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace kv {

// True for a byte that begins a double-byte CP932 character; the byte after
// it belongs to the character, and may be '\' (0x5C, as in "ソ" 83 5C).
inline bool IsCp932LeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
// True for a byte that may stand second in a double-byte CP932 character.
inline bool IsCp932TrailByte(unsigned char c) { return c >= 0x40 && c <= 0xFC && c != 0x7F; }

// The length of the CP932 character at `offset` of `text`: 2 for a lead
// byte followed by a trail byte, else 1 (0 at the end of the text).
inline size_t Cp932CharacterLength(std::string_view text, size_t offset = 0) {
  if (offset >= text.size()) return 0;
  return offset + 1 < text.size() && IsCp932LeadByte(static_cast<unsigned char>(text[offset])) &&
                 IsCp932TrailByte(static_cast<unsigned char>(text[offset + 1]))
             ? 2
             : 1;
}

inline bool IsUtf8ContinuationByte(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length that a UTF-8 sequence beginning with `c` claims (1 for ASCII
// and for a byte that begins none), before its other bytes are checked:
// where a writer that receives text in pieces may cut.
size_t Utf8ClaimedLength(unsigned char c);

// The length of the UTF-8 character at the start of `text`, or 0 when none
// starts there (an empty text, a stray or cut-short sequence, an overlong
// form, a surrogate).
size_t Utf8CharacterLength(std::string_view text);
// Decodes the UTF-8 character at the start of `text`: its length (0 as
// above, leaving *code_point alone) and its code point.
size_t DecodeUtf8(std::string_view text, char32_t* code_point);
// Appends the UTF-8 form of a code point (U+FFFD for a surrogate or a value
// beyond U+10FFFF).
void AppendUtf8(char32_t code_point, std::string* out);
// True when the whole text is UTF-8.
bool IsUtf8(std::string_view text);
bool IsAscii(std::string_view text);

// CP932 text to UTF-8; a byte sequence that is not CP932 is replaced by U+FFFD.
std::string Cp932ToUtf8(std::string_view text);
// UTF-8 text to CP932; a character that CP932 lacks becomes '?'.
std::string Utf8ToCp932(std::string_view text);

// Exact conversions, the ones file names and names typed in an editor go
// through: false when a character has no form on the other side that
// converts back to it, or the text is not valid in its own encoding. "〜"
// (U+301C) has no CP932 form, since CP932's 81 60 reads back as "～" (U+FF5E).
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

}  // namespace kv
