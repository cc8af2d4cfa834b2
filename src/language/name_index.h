// The names that statements define and use, as the compile reads them: each
// label, function, variable, alias and file name with the command it stands
// in and the exact bytes of its element, from the tokenizer's own offsets.
// A program that wants to know where a name is defined or used (the
// language server) asks command reading for these (ReadingObserver::OnNames)
// instead of reading the scripts a second time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "context/kc_system.h"
#include "source/statement.h"

namespace kv {

class KCCommand;

struct NameEntry {
  enum Kind : uint8_t {
    kLabel,
    kFunction,
    kVariable,
    kAlias,
    kFile,     // a script that script_load or script_change names
    kFolder,   // the folder that image_path, sound_path or movie_path sets
    kCommand,  // the leading word of a statement that names a command or alias
  };
  Kind kind;
  // A label or function defined, a variable declared, an alias made;
  // otherwise a use.
  bool definition = false;
  // The statement's command; an alias's definition: the command it names
  // (CmdInvalid when none); a command word: the command it stands for.
  int32_t command = 0;
  // CP932, as read (a file or folder: the string's contents); it points
  // into the statement, valid while the statement is.
  std::string_view name;
  // The element's bytes in its source's contents: [offset, end).
  uint32_t offset = 0;
  uint32_t end = 0;
};

// The target of a goto or function_call when it is written as one plain
// word, the element `at` of the statement's first parameter with nothing
// after it (anything else is computed when the game runs); null otherwise.
const CommandElement* PlainTarget(const CommandParameter& first, size_t at);

// Appends what the statement, about to be compiled as `id` (a command id,
// CmdLabel or CmdInvalid, its leading word still element 0 of parameter 0),
// defines and uses, in the order the names stand.
void IndexStatement(const KCCommand& command, int32_t id, const Statement& statement,
                    std::vector<NameEntry>* names);

// The kind of file whose folder a command sets (image_path, sound_path,
// movie_path); none for any other.
std::optional<FileKind> FolderKindOf(int32_t command);

}  // namespace kv
