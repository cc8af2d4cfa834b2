#include "server/uri.h"

#include <vector>

#include "platform/file_system.h"
#include "platform/text.h"

namespace kv {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool PercentDecode(std::string_view text, std::string* decoded) {
  decoded->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      decoded->push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = HexValue(text[i + 1]);
    const int low = HexValue(text[i + 2]);
    if (high < 0 || low < 0) return false;
    decoded->push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return decoded->find('\0') == std::string::npos;
}

void PercentEncode(std::string_view text, std::string* out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~' || c == '/' || c == ':') {
      out->push_back(c);
    } else {
      out->push_back('%');
      out->push_back(kHex[b >> 4]);
      out->push_back(kHex[b & 15]);
    }
  }
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// "/a/./b/../c/" -> "/a/c": a '/'-rooted path with its dot segments folded
// and no trailing separator.
std::string FoldDotSegments(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t i = 0;
  while (i < path.size()) {
    size_t slash = path.find('/', i);
    if (slash == std::string_view::npos) slash = path.size();
    const std::string_view part = path.substr(i, slash - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = slash + 1;
  }
  std::string folded;
  for (std::string_view part : parts) {
    folded += '/';
    folded += part;
  }
  return folded.empty() ? "/" : folded;
}

}  // namespace

PathStyle NativePathStyle() {
  return kNativeSeparator == '\\' ? PathStyle::kWindows : PathStyle::kPosix;
}

bool UriToPath(std::string_view uri, PathStyle style, std::string* path) {
  constexpr std::string_view kScheme = "file:";
  if (uri.size() < kScheme.size()) return false;
  for (size_t i = 0; i < kScheme.size(); ++i) {
    if ((uri[i] | 0x20) != kScheme[i]) return false;
  }
  std::string_view rest = uri.substr(kScheme.size());
  rest = rest.substr(0, rest.find_first_of("?#"));
  std::string_view raw_authority;
  if (rest.starts_with("//")) {
    rest.remove_prefix(2);
    const size_t slash = rest.find('/');
    raw_authority = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
  }
  std::string authority, decoded;
  if (!rest.starts_with("/") || !PercentDecode(raw_authority, &authority) ||
      !PercentDecode(rest, &decoded)) {
    return false;
  }
  if (authority.size() == 9) {
    std::string lower = authority;
    for (char& c : lower) c = static_cast<char>(c | 0x20);
    if (lower == "localhost") authority.clear();
  }

  std::string utf8;
  if (style == PathStyle::kPosix) {
    if (!authority.empty()) return false;
    utf8 = FoldDotSegments(decoded);
  } else {
    for (char& c : decoded) {
      if (c == '\\') c = '/';
    }
    const bool drive = decoded.size() >= 3 && IsLetter(decoded[1]) && decoded[2] == ':' &&
                       (decoded.size() == 3 || decoded[3] == '/');
    if (drive && authority.empty()) {
      const char letter = static_cast<char>(decoded[1] & ~0x20);
      utf8 = std::string(1, letter) + ":" + FoldDotSegments(decoded.substr(3));
    } else if (!authority.empty() && authority.find('/') == std::string::npos) {
      utf8 = "//" + authority + FoldDotSegments(decoded);
      if (utf8.back() == '/') utf8.pop_back();
    } else {
      return false;
    }
    for (char& c : utf8) {
      if (c == '/') c = '\\';
    }
  }
  return Utf8ToCp932Exact(utf8, path);
}

std::string PathToUri(std::string_view path, PathStyle style) {
  std::string utf8 = Cp932ToUtf8(path);
  std::string uri = "file://";
  if (style == PathStyle::kWindows) {
    for (char& c : utf8) {
      if (c == '\\') c = '/';
    }
    if (utf8.starts_with("//")) {
      PercentEncode(std::string_view(utf8).substr(2), &uri);  // the host and its share
      return uri;
    }
    uri += '/';
  }
  PercentEncode(utf8, &uri);
  return uri;
}

}  // namespace kv
