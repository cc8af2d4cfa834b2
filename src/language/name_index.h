// The names that statements define and use, as the compile reads them: each
// label, function, variable, alias and file name with the command it stands
// in and the exact bytes of its element, from the tokenizer's own offsets.
// A program that wants to know where a name is defined or used (the
// language server) asks command reading for these (ReadingObserver::OnNames)
// instead of reading the scripts a second time; the records that the checks
// of the whole game read (NameUse) are made from them too (NameUseRecorder).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
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
  // What more the checks of the whole game tell apart. The kinds from
  // kMade on are read only by them (ForChecksOnly).
  enum Detail : uint8_t {
    kPlain,
    kLocal,     // a variable that local_value or local_string declares
    kAfterAt,   // a word of other than ASCII after the @ of a declaration
    kAssigned,  // the leading word of a statement that is no command, assigned to
    kMade,      // a kVariable definition: a name that a command makes (a layer, ...)
    kString,    // a kFile use: a string alone in a command's parameter
    kComputed,  // a kFile use: the script that script_load or script_change
                // names by a value computed when the game runs (empty)
    kNotAWord,  // a kFunction definition whose name is a string or a number
  };
  Kind kind;
  Detail detail = kPlain;
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

  bool ForChecksOnly() const { return detail >= kMade; }
};

// The target of a goto or function_call when it is written as one plain
// word, the element `at` of the statement's first parameter with nothing
// after it (anything else is computed when the game runs); null otherwise.
const CommandElement* PlainTarget(const CommandParameter& first, size_t at);

// Appends what the statement, about to be compiled as `id` (a command id,
// CmdLabel or CmdInvalid, its leading word still element 0 of parameter 0),
// defines and uses, in the order the names stand. A statement that the setup
// phase compiles as calc is indexed as written (as CmdInvalid).
void IndexStatement(const KCCommand& command, int32_t id, const Statement& statement,
                    std::vector<NameEntry>* names);

// The kind of file whose folder a command sets (image_path, sound_path,
// movie_path); none for any other.
std::optional<FileKind> FolderKindOf(int32_t command);

// Keeps, in a check, the records of each statement's names that the checks of
// the whole game read (KCSystem::results.NameUses), made from the statement's
// index: a file name (a string that ends with an extension of the game's
// files, or an empty name for a script computed when the game runs); each
// variable declared; a word read as a variable, once per script (a name of
// other characters left to its author); a name made, once per script; a
// label gone to and a function called; a label defined first in its script,
// and a label or function defined again in its script, with the place of its
// first definition.
class NameUseRecorder {
 public:
  explicit NameUseRecorder(KCSystem& sys);

  // Whether the run keeps records (a check).
  bool On() const { return on_; }
  // `names`, the index of a statement of the current script about to be
  // compiled, as IndexStatement made them. `checked`: false for the closer
  // of a void or debug_only block, whose words the statement checks skip.
  void Keep(const std::vector<NameEntry>& names, bool checked);
  // The statement has been compiled: the label or function it defined, as
  // KCSystem::lastDefinition tells.
  void KeepDefinition();

 private:
  void Record(NameUse::Kind kind, std::string_view name, uint32_t offset);
  bool NamesFile(std::string_view text) const;

  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
  };
  using NameSet = std::unordered_set<std::string, Hash, std::equal_to<>>;

  KCSystem& sys_;
  bool on_ = false;
  bool file_names_ = false;  // missing-file or unreached-script is on
  bool variables_ = false;   // a check of variables is on
  // Lower-case extensions of the four kinds of files, with their dot.
  std::vector<std::string> extensions_;
  // The path that the records of the current script share, and the words
  // it has used and the names it has made so far (each kept once).
  ScriptPath path_;
  NameSet kept_uses_, kept_names_;
  // The definition of the statement being compiled, if any.
  bool definition_pending_ = false;
  bool definition_is_label_ = false;
  NameUse definition_;
  ScriptPath definition_script_;
};

}  // namespace kv
