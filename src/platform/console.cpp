#include "platform/console.h"

#include <string>

namespace kv {
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

bool ConsoleCodePageIsUtf8(bool output_is_console, unsigned output_code_page) {
  constexpr unsigned kUtf8CodePage = 65001;
  return output_is_console && output_code_page == kUtf8CodePage;
}

}  // namespace kv
