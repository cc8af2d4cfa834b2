#include "platform/console.h"

namespace kv {

bool ConsoleCodePageIsUtf8(bool output_is_console, unsigned output_code_page) {
  constexpr unsigned kUtf8CodePage = 65001;
  return output_is_console && output_code_page == kUtf8CodePage;
}

}  // namespace kv
