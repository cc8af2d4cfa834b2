#include "language/name_index.h"

#include <algorithm>
#include <iterator>

#include "context/kc_system.h"
#include "language/command_table.h"
#include "language/kc_command.h"
#include "language/statement_lint.h"
#include "platform/text.h"

namespace kv {
namespace {

void Add(std::vector<NameEntry>* names, NameEntry::Kind kind, bool definition, int32_t command,
         const CommandElement& element, NameEntry::Detail detail = NameEntry::kPlain) {
  names->push_back({kind, detail, definition, command, element.text, element.offset,
                    std::max(element.end, element.offset)});
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

// Whether a name is kept for the first time in `set`.
template <typename Set>
bool FirstTime(Set* set, std::string_view name) {
  if (set->find(name) != set->end()) return false;
  set->emplace(name);
  return true;
}

// Whether the strings of a command name files that need not be in the game.
bool OutsideTheGame(int32_t command) {
  static const std::vector<bool> outside = [] {
    std::vector<bool> table(kCommandCount);
    for (int32_t id = 0; id < kCommandCount; ++id) {
      table[id] = NamesFilesOutsideTheGame(kCommands[id].name);
    }
    return table;
  }();
  return command >= 0 && command < kCommandCount && outside[command];
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
  const size_t before = names->size();
  const bool is_command = id >= 0 && id < kCommandCount;
  // A string that stands first names a command as a word does: only a word
  // is the command's word.
  if (is_command && first[0].kind == ElemWord) Add(names, NameEntry::kCommand, false, id, first[0]);
  switch (id) {
    case cmd::kFunction:
      if (const CommandElement* name = WordAt(statement, 0, 1)) {
        Add(names, NameEntry::kFunction, true, id, *name);
      } else if (first.size() == 2) {
        // Defined by that name all the same.
        Add(names, NameEntry::kFunction, true, id, first[1], NameEntry::kNotAWord);
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
      } else if (statement.size() == 1) {
        // A script named by a value computed when the game runs.
        Add(names, NameEntry::kFile, false, id, first[0], NameEntry::kComputed);
        names->back().name = {};
      }
      break;
    default:
      if (FolderKindOf(id).has_value() && first.size() == 2 &&
          first[1].kind == ElemString) {
        Add(names, NameEntry::kFolder, false, id, first[1]);
      }
      break;
  }
  if (is_command) {
    // Each string alone in its parameter (the command's word still stands
    // first in parameter 0): it may name a file.
    for (uint32_t p = 0; p < statement.size(); ++p) {
      const size_t at = p == 0 ? 1 : 0;
      const CommandParameter& parameter = statement[p];
      if (parameter.size() == at + 1 && parameter[at].kind == ElemString) {
        Add(names, NameEntry::kFile, false, id, parameter[at], NameEntry::kString);
      }
    }
  }
  // Variables, by the rule the checks of variables read them with.
  ForEachVariableName(command, id, statement, [&](NameUse::Kind kind,
                                                  const CommandElement& element) {
    switch (kind) {
      case NameUse::kVariableDeclaration:
        Add(names, NameEntry::kVariable, true, id, element);
        break;
      case NameUse::kLocalDeclaration:
        Add(names, NameEntry::kVariable, true, id, element, NameEntry::kLocal);
        break;
      case NameUse::kVariableUse:
        Add(names, NameEntry::kVariable, false, id, element);
        break;
      case NameUse::kInitialValueWord:
        Add(names, NameEntry::kVariable, false, id, element, NameEntry::kAfterAt);
        break;
      case NameUse::kAssignedWord:
        Add(names, NameEntry::kVariable, false, id, element, NameEntry::kAssigned);
        break;
      case NameUse::kMadeName:
        Add(names, NameEntry::kVariable, true, id, element, NameEntry::kMade);
        break;
      default:
        break;
    }
  });
  // In the order the names stand. A statement's few names are sorted in
  // place (a stable sort would take a buffer for each statement).
  const auto begin = names->begin() + static_cast<std::ptrdiff_t>(before);
  const auto by_offset = [](const NameEntry& a, const NameEntry& b) { return a.offset < b.offset; };
  constexpr std::ptrdiff_t kFew = 32;
  if (names->end() - begin > kFew) {
    std::stable_sort(begin, names->end(), by_offset);
    return;
  }
  for (auto it = begin; it != names->end(); ++it) {
    for (auto at = it; at != begin && by_offset(*at, *(at - 1)); --at) std::iter_swap(at, at - 1);
  }
}

std::optional<FileKind> FolderKindOf(int32_t command) {
  if (command < 0 || command >= kCommandCount) return std::nullopt;
  const std::string_view name = kCommands[command].name;
  if (name == "image_path") return FileKind::kImage;
  if (name == "sound_path") return FileKind::kAudio;
  if (name == "movie_path") return FileKind::kMovie;
  return std::nullopt;
}

NameUseRecorder::NameUseRecorder(KCSystem& sys) : sys_(sys) {
  const CheckSet& checks = sys.options.checks;
  on_ = sys.options.checkOnly;
  // As the statement checks keep them: only while they check statements.
  file_names_ = checks.On(Check::kMissingFile) || checks.On(Check::kUnreachedScript);
  variables_ = checks.AnyVariableCheck();
  for (const std::vector<std::string>& list : sys.options.extensions) {
    for (const std::string& extension : list) {
      std::string dotted = "." + extension;
      std::transform(dotted.begin(), dotted.end(), dotted.begin(), AsciiLower);
      extensions_.push_back(std::move(dotted));
    }
  }
}

void NameUseRecorder::Keep(const std::vector<NameEntry>& names, bool checked) {
  definition_pending_ = false;
  if (!on_ || names.empty()) return;
  const SourceText* source = sys_.script.currentSource;
  if (source == nullptr) return;
  if (path_.str() != source->path) {
    path_ = ScriptPath(source->path);
    kept_uses_.clear();
    kept_names_.clear();
  }
  // The file names, then the variables, then what the statement goes to or
  // defines: in each script the records of a line stand in that order.
  if (file_names_ && checked) {
    for (const NameEntry& entry : names) {
      if (entry.kind != NameEntry::kFile) continue;
      if (entry.detail == NameEntry::kComputed) {
        Record(NameUse::kFileName, {}, entry.offset);
      } else if (entry.detail == NameEntry::kString && !OutsideTheGame(entry.command) &&
                 NamesFile(entry.name)) {
        Record(NameUse::kFileName, entry.name, entry.offset);
      }
    }
  }
  if (variables_ && checked) {
    for (const NameEntry& entry : names) {
      if (entry.kind != NameEntry::kVariable) continue;
      NameUse::Kind kind;
      switch (entry.detail) {
        case NameEntry::kLocal: kind = NameUse::kLocalDeclaration; break;
        case NameEntry::kAfterAt: kind = NameUse::kInitialValueWord; break;
        case NameEntry::kAssigned: kind = NameUse::kAssignedWord; break;
        case NameEntry::kMade: kind = NameUse::kMadeName; break;
        default:
          kind = entry.definition ? NameUse::kVariableDeclaration : NameUse::kVariableUse;
          break;
      }
      // A word of other characters that reads as a name is left to the
      // author: the checks keep only what is likely a slip.
      if (kind == NameUse::kVariableUse && !IsAscii(entry.name) &&
          StatementLint::ShapeOf(entry.name) == StatementLint::WordShape::kName) {
        continue;
      }
      if (kind == NameUse::kVariableUse || kind == NameUse::kInitialValueWord ||
          kind == NameUse::kAssignedWord) {
        if (!FirstTime(&kept_uses_, entry.name)) continue;
      } else if (kind == NameUse::kMadeName) {
        if (!FirstTime(&kept_names_, entry.name)) continue;
      }
      Record(kind, entry.name, entry.offset);
    }
  }
  for (const NameEntry& entry : names) {
    if (entry.kind != NameEntry::kLabel && entry.kind != NameEntry::kFunction) continue;
    if (!entry.definition) {
      Record(entry.kind == NameEntry::kLabel ? NameUse::kGoto : NameUse::kFunctionCall, entry.name,
             entry.offset);
      continue;
    }
    // Kept once the statement has defined it: its name is copied now, while
    // the statement still holds it.
    definition_pending_ = true;
    definition_is_label_ = entry.kind == NameEntry::kLabel;
    const SourcePlace place = Diagnostics::PlaceIn(*source, entry.offset);
    definition_ = NameUse{.name = entry.name, .line = place.line, .column = place.column};
    definition_script_ = path_;
    sys_.lastDefinition = {};
  }
}

void NameUseRecorder::KeepDefinition() {
  if (!definition_pending_) return;
  definition_pending_ = false;
  const KCSystem::DefinitionOutcome& outcome = sys_.lastDefinition;
  if (!outcome.recorded) return;
  if (outcome.second) {
    definition_.kind = definition_is_label_ ? NameUse::kSecondLabel : NameUse::kSecondFunction;
    sys_.results.NameUses.AddSecond(definition_script_, std::move(definition_), outcome.firstLine,
                                    outcome.firstColumn);
    return;
  } else if (definition_is_label_ && sys_.options.checks.On(Check::kDuplicateLabel)) {
    // Where each script defines a label first, for the check of labels
    // that two scripts define.
    definition_.kind = NameUse::kLabel;
  } else {
    return;
  }
  sys_.results.NameUses.Add(definition_script_, std::move(definition_));
}

void NameUseRecorder::Record(NameUse::Kind kind, std::string_view name, uint32_t offset) {
  const SourcePlace place = Diagnostics::PlaceIn(*sys_.script.currentSource, offset);
  sys_.results.NameUses.Add(
      path_, NameUse{.name = name, .line = place.line, .column = place.column, .kind = kind});
}

bool NameUseRecorder::NamesFile(std::string_view text) const {
  // A bare name: no blank or control byte, a stem and an extension of the
  // four lists in its last part (in any case: bg.PNG names a picture too).
  if (text.empty() || text.back() == '/' || text.back() == '\\') return false;
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  if (std::any_of(text.begin(), text.end(), blank)) return false;
  for (const std::string& extension : extensions_) {
    if (text.size() <= extension.size()) continue;
    const std::string_view tail = text.substr(text.size() - extension.size());
    const char before = text[text.size() - extension.size() - 1];
    if (before == '/' || before == '\\') continue;
    if (std::equal(tail.begin(), tail.end(), extension.begin(),
                   [](char a, char b) { return AsciiLower(a) == b; })) {
      return true;
    }
  }
  return false;
}

}  // namespace kv
