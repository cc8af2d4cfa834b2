// Writes the libFuzzer dictionary of the script language to standard output:
// every command name of the command table, the operators and separators, and
// the mark that splits a fuzz input into several scripts.
#include <cstdio>
#include <string_view>

#include "language/command_table.h"

namespace {

void Entry(std::string_view word) {
  std::putchar('"');
  for (unsigned char c : word) {
    if (c == '"' || c == '\\') {
      std::printf("\\%c", c);
    } else if (c < 0x20 || c >= 0x7F) {
      std::printf("\\x%02X", c);
    } else {
      std::putchar(c);
    }
  }
  std::printf("\"\n");
}

}  // namespace

int main() {
  for (const kv::CommandInfo& command : kv::kCommands) Entry(command.name);
  for (std::string_view op : {"==", "<=", ">=", "&&", "||", "!", "<", ">", "=", "+", "-", "*",
                              "/", "%", "&", "|", "#", "@", "(", ")", "[", "]", "{", "}"}) {
    Entry(op);
  }
  for (std::string_view token : {";", ",", ":", "\"", "'", "//", "/*", "*/", "\n", "\r\n", "0x",
                                 "0b", "1.5", "$", "main.txt", "a.txt", "scenes/b.txt",
                                 "\n=====\n", "\x82\xA0", "\x81\x5B", "\x83\x7C"}) {
    Entry(token);
  }
  return 0;
}
