// Console access on POSIX, through the C library's locale.
#include <langinfo.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/console.h"

namespace kv {

const bool kLocaleChoosesConsoleEncoding = true;

bool ConsoleLocaleIsUtf8() {
  // A locale that is named but not installed (common in containers) still
  // tells what the terminal takes.
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = getenv(variable);
    if (value == nullptr || *value == '\0') continue;
    if (LocaleNameIsUtf8(value)) return true;
    break;
  }
  // An installed locale whose name does not say it.
  if (setlocale(LC_CTYPE, "") == nullptr) return false;
  const char* codeset = nl_langinfo(CODESET);
  bool utf8 = codeset != nullptr &&
              (strcmp(codeset, "UTF-8") == 0 || strcmp(codeset, "utf8") == 0);
  setlocale(LC_CTYPE, "C");
  return utf8;
}

void SetConsoleTextIsUtf8(bool) {}

void WriteStdout(std::string_view bytes) {
  if (fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() && fflush(stdout) == 0) return;
  NoteStdoutFailure(std::strerror(errno));
}

void WriteStderr(std::string_view bytes) { fwrite(bytes.data(), 1, bytes.size(), stderr); }

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

void ReadOneChar() { getchar(); }

}  // namespace kv
