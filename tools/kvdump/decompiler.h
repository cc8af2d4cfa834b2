// Scripts back from a script object: for every stored script a CP932 text
// that the converter compiles to exactly the stored code, defining the same
// labels and functions at the same entries. Commands become statements again,
// postfix expressions infix ones, and the jumps of the block statements the
// blocks they were made from; code that no script compiles to is refused,
// never guessed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "kvdump/object_reader.h"

namespace kv::kvdump {

struct ScriptSource {
  size_t entry = 0;  // the script's index in the header
  std::string text;  // the script, CP932 text with line feeds
};

// Decompiles every script of a script object that CheckImage accepts, in the
// order of the header. The scripts compile back, main.txt of the engine
// directory first and the others in ascending byte order of their paths as
// the converter takes them, to the same code, labels and functions. False
// with the first problem, which names the script and the entry where it
// stands: a jump that fits no block statement, a command or a parameter that
// no statement compiles to, a number, name or string that no script can
// spell, a label or function the converter would not record so.
bool DecompileScripts(std::string_view image, const ObjectHeader& header,
                      std::vector<ScriptSource>* scripts, Problem* problem);

// A string literal that reads back as `text`: in double quotes, or in single
// quotes when it holds a double quote; a text that needs both, or that holds
// what a script cannot hold inside one literal ("//" or "/*", which begin
// comments, a CR right before a LF), is split into adjacent literals, which
// the script reader joins. False when no script can hold the text (a 0x1A
// byte).
bool StringLiteral(std::string_view text, std::string* literal);

}  // namespace kv::kvdump
