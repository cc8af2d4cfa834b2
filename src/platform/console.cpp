#include "platform/console.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace kv {
namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The characters of other Japanese encodings that CP932 holds only as a
// look-alike, with the look-alike's code.
struct LookAlike {
  std::string_view utf8;
  std::string_view cp932;
};
constexpr LookAlike kLookAlikes[] = {
    {"\xE3\x80\x9C", "\x81\x60"},  // WAVE DASH as FULLWIDTH TILDE
    {"\xE2\x80\x96", "\x81\x61"},  // DOUBLE VERTICAL LINE as PARALLEL TO
    {"\xE2\x88\x92", "\x81\x7C"},  // MINUS SIGN as FULLWIDTH HYPHEN-MINUS
    {"\xE2\x80\x94", "\x81\x5C"},  // EM DASH as HORIZONTAL BAR
    {"\xC2\xA2", "\x81\x91"},      // CENT SIGN as FULLWIDTH CENT SIGN
    {"\xC2\xA3", "\x81\x92"},      // POUND SIGN as FULLWIDTH POUND SIGN
    {"\xC2\xAC", "\x81\xCA"},      // NOT SIGN as FULLWIDTH NOT SIGN
};

}  // namespace

bool LocaleNameIsUtf8(std::string_view locale_name) {
  // language_TERRITORY.CODESET@modifier
  const size_t dot = locale_name.find('.');
  if (dot == std::string_view::npos) return false;
  std::string_view codeset = locale_name.substr(dot + 1);
  codeset = codeset.substr(0, codeset.find('@'));
  std::string folded;
  for (char c : codeset) {
    if (c != '-') folded.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  return folded == "utf8";
}

size_t Utf8CharacterLength(std::string_view text) {
  if (text.empty()) return 0;
  const unsigned char c = static_cast<unsigned char>(text[0]);
  if (c < 0x80) return 1;
  size_t n;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) low = 0xA0;   // overlong
    if (c == 0xED) high = 0x9F;  // surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) low = 0x90;   // overlong
    if (c == 0xF4) high = 0x8F;  // beyond U+10FFFF
  } else {
    return 0;
  }
  if (text.size() < n) return 0;
  const unsigned char second = static_cast<unsigned char>(text[1]);
  if (second < low || second > high) return 0;
  for (size_t k = 2; k < n; ++k) {
    if (!IsContinuation(static_cast<unsigned char>(text[k]))) return 0;
  }
  return n;
}

void ConvertScriptText(std::string_view utf8, std::string* cp932,
                       const std::function<void(size_t offset, size_t length)>& refused) {
  // Most texts convert whole. One that does not is taken line by line, a
  // line that does not in pieces, and a piece that does not character by
  // character, so a long text with a few bad characters stays cheap.
  constexpr size_t kPiece = 256;
  std::string converted;
  if (Utf8ToCp932Exact(utf8, &converted)) {
    cp932->append(converted);
    return;
  }
  auto by_character = [&](size_t begin, size_t end) {
    while (begin < end) {
      const size_t n = Utf8CharacterLength(utf8.substr(begin, end - begin));
      const std::string_view character = utf8.substr(begin, n);
      const LookAlike* alike = nullptr;
      for (const LookAlike& candidate : kLookAlikes) {
        if (n > 0 && candidate.utf8 == character) alike = &candidate;
      }
      if (alike != nullptr) {
        cp932->append(alike->cp932);
      } else if (n > 0 && Utf8ToCp932Exact(character, &converted)) {
        cp932->append(converted);
      } else {
        refused(begin, std::max<size_t>(n, 1));
      }
      begin += std::max<size_t>(n, 1);
    }
  };
  auto in_pieces = [&](size_t begin, size_t end) {
    while (begin < end) {
      size_t stop = std::min(end, begin + kPiece);
      // A piece ends before a character, not inside one.
      while (stop < end && stop > begin && IsContinuation(static_cast<unsigned char>(utf8[stop]))) {
        --stop;
      }
      if (stop == begin) stop = std::min(end, begin + kPiece);
      if (Utf8ToCp932Exact(utf8.substr(begin, stop - begin), &converted)) {
        cp932->append(converted);
      } else {
        by_character(begin, stop);
      }
      begin = stop;
    }
  };
  for (size_t begin = 0; begin < utf8.size();) {
    const size_t line_feed = utf8.find('\n', begin);
    const size_t end = line_feed == std::string_view::npos ? utf8.size() : line_feed + 1;
    if (Utf8ToCp932Exact(utf8.substr(begin, end - begin), &converted)) {
      cp932->append(converted);
    } else {
      in_pieces(begin, end);
    }
    begin = end;
  }
}

namespace {

// The reason for the first failed write to standard output; empty while
// every write has succeeded.
std::string& StdoutFailure() {
  static std::string reason;
  return reason;
}

}  // namespace

void NoteStdoutFailure(std::string_view reason) {
  if (StdoutFailure().empty()) StdoutFailure() = reason.empty() ? "?" : reason;
}

bool StdoutIntact(std::string* reason) {
  if (StdoutFailure().empty()) return true;
  *reason = StdoutFailure();
  return false;
}

}  // namespace kv
