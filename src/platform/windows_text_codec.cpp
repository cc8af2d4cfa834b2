// The conversions of the text module on Windows, through the system's code
// page tables, and the UTF-16 forms that the wide functions take.
#include <windows.h>

#include <string>

#include "platform/text.h"
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

bool Cp932ConversionAvailable() { return IsValidCodePage(kCp932) != 0; }


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

}  // namespace kv
