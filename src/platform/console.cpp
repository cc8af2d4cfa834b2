#include "platform/console.h"

#include <cctype>
#include <string>

namespace kv {

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
