#include "language/name_index.h"

#include <algorithm>
#include <iterator>

#include "context/kc_system.h"
#include "language/command_table.h"
#include "language/kc_command.h"
#include "language/statement_lint.h"

namespace kv {
namespace {

void Add(std::vector<NameEntry>* names, NameEntry::Kind kind, bool definition, int32_t command,
         const CommandElement& element) {
  names->push_back({kind, definition, command, element.text, element.offset,
                    std::max(element.end, element.offset)});
}

const CommandElement* WordAt(const Statement& statement, uint32_t parameter, uint32_t element) {
  if (parameter >= statement.size() || element >= statement[parameter].size()) return nullptr;
  const CommandElement* e = &statement[parameter][element];
  return e->kind == ElemWord ? e : nullptr;
}

}  // namespace

const CommandElement* PlainTarget(const CommandParameter& first, size_t at) {
  if (first.size() != at + 1 || first[at].kind != ElemWord) return nullptr;
  return &first[at];
}

void IndexStatement(const KCCommand& command, int32_t id, const Statement& statement,
                    std::vector<NameEntry>* names) {
  if (statement.size() == 0 || statement[0].empty()) return;
  const CommandParameter& first = statement[0];
  if (id == CmdLabel) {
    Add(names, NameEntry::kLabel, true, id, first[0]);
    return;
  }
  if (first[0].kind != ElemWord) return;  // the setup phase's stand-in of a word
  if (id >= 0 && id < kCommandCount) Add(names, NameEntry::kCommand, false, id, first[0]);
  switch (id) {
    case cmd::kFunction:
      if (const CommandElement* name = WordAt(statement, 0, 1)) {
        Add(names, NameEntry::kFunction, true, id, *name);
      }
      break;
    case cmd::kGoto:
    case cmd::kFunctionCall:
      if (const CommandElement* target = PlainTarget(first, 1)) {
        Add(names, id == cmd::kGoto ? NameEntry::kLabel : NameEntry::kFunction, false, id, *target);
      }
      break;
    case cmd::kNewCommand: {
      const CommandElement* alias = WordAt(statement, 0, 1);
      const CommandElement* target = WordAt(statement, 1, 0);
      if (alias && target) {
        Add(names, NameEntry::kAlias, true, command.FindCommandId(target->text), *alias);
      }
      break;
    }
    case cmd::kScriptLoad:
    case cmd::kScriptChange:
      if (first.size() == 2 && first[1].kind == ElemString) {
        Add(names, NameEntry::kFile, false, id, first[1]);
      }
      break;
    default:
      if (FolderKindOf(id).has_value() && first.size() == 2 &&
          first[1].kind == ElemString) {
        Add(names, NameEntry::kFolder, false, id, first[1]);
      }
      break;
  }
  // Variables, by the rule the checks of variables read them with.
  const size_t before = names->size();
  ForEachVariableName(command, id, statement, [&](NameUse::Kind kind, const CommandElement& element) {
    switch (kind) {
      case NameUse::kVariableDeclaration:
      case NameUse::kLocalDeclaration:
        Add(names, NameEntry::kVariable, true, id, element);
        break;
      case NameUse::kVariableUse:
      case NameUse::kInitialValueWord:
      case NameUse::kAssignedWord:
        Add(names, NameEntry::kVariable, false, id, element);
        break;
      default:
        break;
    }
  });
  // In the order the names stand.
  std::stable_sort(names->begin() + static_cast<std::ptrdiff_t>(before), names->end(),
                   [](const NameEntry& a, const NameEntry& b) { return a.offset < b.offset; });
}

std::optional<FileKind> FolderKindOf(int32_t command) {
  if (command < 0 || command >= kCommandCount) return std::nullopt;
  const std::string_view name = kCommands[command].name;
  if (name == "image_path") return FileKind::kImage;
  if (name == "sound_path") return FileKind::kAudio;
  if (name == "movie_path") return FileKind::kMovie;
  return std::nullopt;
}

}  // namespace kv
