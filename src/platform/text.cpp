#include "platform/text.h"

#include <algorithm>

namespace kv {
namespace {

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

size_t Utf8ClaimedLength(unsigned char c) {
  if (c >= 0xC2 && c <= 0xDF) return 2;
  if (c >= 0xE0 && c <= 0xEF) return 3;
  if (c >= 0xF0 && c <= 0xF4) return 4;
  return 1;
}

size_t DecodeUtf8(std::string_view text, char32_t* code_point) {
  if (text.empty()) return 0;
  const unsigned char c = static_cast<unsigned char>(text[0]);
  if (c < 0x80) {
    *code_point = c;
    return 1;
  }
  const size_t n = Utf8ClaimedLength(c);
  if (n == 1 || text.size() < n) return 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (c == 0xE0) low = 0xA0;              // overlong
  if (c == 0xED) high = 0x9F;             // surrogates
  if (c == 0xF0) low = 0x90;              // overlong
  if (c == 0xF4) high = 0x8F;             // beyond U+10FFFF
  const unsigned char second = static_cast<unsigned char>(text[1]);
  if (second < low || second > high) return 0;
  char32_t value = c & (0x7F >> n);
  for (size_t k = 1; k < n; ++k) {
    const unsigned char b = static_cast<unsigned char>(text[k]);
    if (!IsUtf8ContinuationByte(b)) return 0;
    value = (value << 6) | (b & 0x3F);
  }
  *code_point = value;
  return n;
}

size_t Utf8CharacterLength(std::string_view text) {
  char32_t ignored;
  return DecodeUtf8(text, &ignored);
}

void AppendUtf8(char32_t c, std::string* out) {
  if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
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

bool IsUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    const size_t n = Utf8CharacterLength(text.substr(i));
    if (n == 0) return false;
    i += n;
  }
  return true;
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
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
      while (stop < end && stop > begin &&
             IsUtf8ContinuationByte(static_cast<unsigned char>(utf8[stop]))) {
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

}  // namespace kv
