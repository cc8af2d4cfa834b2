#include "driver/game_lint.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "language/statement_lint.h"
#include "platform/console.h"

namespace kv {
namespace {

constexpr std::string_view kMsgUndefinedFunction =
    "関数 \"%s\" はどのスクリプトにも定義されていません\n";
constexpr std::string_view kMsgUndefinedLabel =
    "ラベル \"%s\" はどのスクリプトにも定義されていません\n";
constexpr std::string_view kMsgSecondFunction =
    "関数 \"%s\" はこのスクリプトで既に定義されています (この定義は使われません)\n";
constexpr std::string_view kMsgSecondLabel =
    "ラベル \"%s\" はこのスクリプトで既に定義されています (この定義は使われません)\n";
constexpr std::string_view kMsgLabelInTwoScripts =
    "ラベル \"%s\" は \"%s\" (%d 行目) でも定義されています\n";
constexpr std::string_view kMsgMissingFile = "ファイル \"%s\" はゲームのどのフォルダにもありません\n";
constexpr std::string_view kMsgFileCaseDiffers =
    "ファイル \"%s\" はありませんが、大文字と小文字だけが違う \"%s\" があります\n";

constexpr std::string_view kMsgUndeclared = "変数 \"%s\" はどのスクリプトでも宣言されていません\n";
constexpr std::string_view kMsgUndeclaredNear =
    "変数 \"%s\" はどのスクリプトでも宣言されていません (\"%s\" ではありませんか?)\n";
constexpr std::string_view kNoteUndeclared =
    "value か string で宣言してください。文字列のつもりなら \"\" で囲んでください\n";
constexpr std::string_view kMsgFullWidthNumber =
    "全角の数字 \"%s\" は数ではなく、宣言されていない変数の名前として読まれます\n";
constexpr std::string_view kNoteFullWidthNumber = "数は半角で %s と書いてください\n";
constexpr std::string_view kMsgImeQuotes =
    "全角の引用符は文字列を囲まないため、\"%s\" は宣言されていない変数の名前として読まれます\n";
constexpr std::string_view kNoteImeQuotes = "文字列は半角の \" で囲んでください\n";
constexpr std::string_view kMsgFileWord =
    "ファイル名 \"%s\" が \"\" で囲まれていないため、宣言されていない変数の名前として読まれます\n";
constexpr std::string_view kNoteQuoteIt = "\"%s\" と \"\" で囲んで書いてください\n";
constexpr std::string_view kMsgTextAfterAt =
    "@ の後の \"%s\" は \"\" で囲まれていないため、文字列ではなく宣言されていない変数の名前として読まれます\n";
constexpr std::string_view kMsgUsedBeforeDeclaration =
    "変数 \"%s\" は %d 行目で宣言される前に使われています\n";
constexpr std::string_view kNoteUsedBeforeDeclaration = "宣言をこの行より前に移してください\n";
constexpr std::string_view kMsgRedeclared = "変数 \"%s\" は \"%s\" (%d 行目) で既に宣言されています\n";
constexpr std::string_view kNoteRedeclared =
    "2 度目の宣言を消すか、値を変えるだけなら %s = ... と代入にしてください\n";

// Values that the engine provides without a declaration.
constexpr std::string_view kBuiltInValues[] = {"select_result"};

constexpr std::string_view kMsgUnreachedScript =
    "スクリプト \"%s\" はどの script_change と script_load にも書かれておらず、"
    "そのラベルと関数もどこからも使われていません\n";
constexpr std::string_view kNoteUnreachedScript =
    "ゲームのフォルダ以下の .txt ファイルはすべてスクリプトとしてコンバートされます。"
    "スクリプトでないファイルはフォルダの外に置いてください\n";

constexpr std::string_view kFirstDefinition = "first-definition";
constexpr std::string_view kFirstDeclaration = "first-declaration";

// Entries kept by their names, the first of each name, in the order they
// were kept: an open-addressed table (linear probing) of the entries'
// numbers. An entry holds its name's hash (`hash`) beside what names it
// (`NameOf` gives its name), in the room its alignment leaves. A game that
// declares a million names holds some 25 bytes a name here, where a
// node-based map (with a list of the names in order beside it) held some 90.
template <typename Entry, typename NameOf>
class NameTable {
 public:
  void Reserve(size_t most) { entries_.reserve(most); }
  // Keeps `entry` unless one of its name is kept; whether it was kept.
  bool Add(Entry entry) {
    if (3 * (entries_.size() + 1) > 2 * slots_.size()) Grow();
    const std::string_view name = NameOf{}(entry);
    entry.hash = Hash(name);
    const size_t slot = SlotOf(name, entry.hash);
    if (slots_[slot] != 0) return false;
    entries_.push_back(entry);
    slots_[slot] = static_cast<uint32_t>(entries_.size());
    return true;
  }
  // The entry kept of the name, or null.
  const Entry* Find(std::string_view name) const {
    if (slots_.empty()) return nullptr;
    const uint32_t number = slots_[SlotOf(name, Hash(name))];
    return number == 0 ? nullptr : &entries_[number - 1];
  }
  bool Contains(std::string_view name) const { return Find(name) != nullptr; }
  const std::vector<Entry>& entries() const { return entries_; }

 private:
  static uint32_t Hash(std::string_view name) {
    const uint64_t hash = std::hash<std::string_view>{}(name);
    return static_cast<uint32_t>(hash ^ (hash >> 32));
  }
  // The slot that holds the name, or the empty one it would go into.
  size_t SlotOf(std::string_view name, uint32_t hash) const {
    const size_t mask = slots_.size() - 1;
    for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
      const uint32_t number = slots_[slot];
      if (number == 0) return slot;
      const Entry& entry = entries_[number - 1];
      if (entry.hash == hash && NameOf{}(entry) == name) return slot;
    }
  }
  void Grow() {
    slots_.assign(slots_.empty() ? 64 : 2 * slots_.size(), 0);
    const size_t mask = slots_.size() - 1;
    for (uint32_t number = 1; number <= entries_.size(); ++number) {
      size_t slot = entries_[number - 1].hash & mask;
      while (slots_[slot] != 0) slot = (slot + 1) & mask;
      slots_[slot] = number;
    }
  }

  std::vector<Entry> entries_;
  std::vector<uint32_t> slots_;  // an entry's number + 1; 0 for none
};

// A label or function defined.
struct DefinedName {
  const DefinitionRecord* record;
  uint32_t hash;
};
struct DefinedNameOf {
  std::string_view operator()(const DefinedName& name) const { return name.record->name.view(); }
};
using DefinedNames = NameTable<DefinedName, DefinedNameOf>;

DefinedNames Names(std::span<const DefinitionRecord> list) {
  DefinedNames names;
  names.Reserve(list.size());
  for (const DefinitionRecord& record : list) names.Add({&record, 0});
  return names;
}

// The parts of a CP932 path between its separators ('/' and '\', never the
// second byte of a character), without "." parts; false when it has a ".."
// part, whose file cannot be told without the directory it is relative to.
bool PathParts(std::string_view path, std::vector<std::string_view>* parts) {
  parts->clear();
  size_t start = 0;
  for (size_t i = 0; i <= path.size();) {
    if (i < path.size() && path[i] != '/' && path[i] != '\\') {
      i += Cp932CharacterLength(path, i);
      continue;
    }
    const std::string_view part = path.substr(start, i - start);
    if (part == "..") return false;
    if (!part.empty() && part != ".") parts->push_back(part);
    start = ++i;
  }
  return true;
}

// ASCII letters in lower case; the bytes of double-byte characters as they are.
std::string Folded(std::string_view text) {
  std::string folded(text);
  for (size_t i = 0; i < folded.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(folded[i]);
    if (IsCp932LeadByte(c)) {
      ++i;
    } else if (c >= 'A' && c <= 'Z') {
      folded[i] = static_cast<char>(c + ('a' - 'A'));
    }
  }
  return folded;
}

bool FoldedEqual(std::string_view a, std::string_view b) {
  return a.size() == b.size() && Folded(a) == Folded(b);
}

// The files of one kind, by the folded last part of their path.
class FileIndex {
 public:
  void Add(std::string_view path) {
    std::vector<std::string_view> parts;
    if (!PathParts(path, &parts) || parts.empty()) return;
    by_name_[Folded(parts.back())].push_back({path, std::move(parts)});
  }
  // Whether a file's path ends with `name`'s parts; else, in *in_other_case,
  // the first file whose path does when letter case is set aside.
  bool Find(const std::vector<std::string_view>& name, std::string_view* in_other_case) const {
    const auto found = by_name_.find(Folded(name.back()));
    if (found == by_name_.end()) return false;
    for (const Entry& entry : found->second) {
      if (entry.parts.size() < name.size()) continue;
      const auto tail = entry.parts.end() - static_cast<std::ptrdiff_t>(name.size());
      if (std::equal(name.begin(), name.end(), tail)) return true;
      if (in_other_case->empty() && std::equal(name.begin(), name.end(), tail, FoldedEqual)) {
        *in_other_case = entry.path;
      }
    }
    return false;
  }

 private:
  struct Entry {
    std::string_view path;
    std::vector<std::string_view> parts;
  };
  std::unordered_map<std::string, std::vector<Entry>> by_name_;
};

// Decides the file-name records: which kinds a name's extension belongs to,
// and whether a file of such a kind ends with the name.
class FileCheck {
 public:
  explicit FileCheck(const GameFiles& files) : files_(files) {}

  // False when the name names no file of the game; *in_other_case is then
  // a file it names but for letter case, or empty.
  // Whether a word ends with an extension of one of the four kinds.
  bool HasAnyExtension(std::string_view word) const {
    const std::string folded = Folded(word);
    for (FileKind kind : kFileKinds) {
      if (HasExtension(kind, folded)) return true;
    }
    return false;
  }

  bool Exists(std::string_view name, std::string_view* in_other_case) {
    std::vector<std::string_view> parts;
    if (!PathParts(name, &parts) || parts.empty()) return true;
    const std::string last = Folded(parts.back());
    bool checked = false;
    for (FileKind kind : kFileKinds) {
      if (!HasExtension(kind, last)) continue;
      checked = true;
      if (Index(kind).Find(parts, in_other_case)) return true;
    }
    return !checked;
  }

 private:
  bool HasExtension(FileKind kind, const std::string& folded_name) const {
    for (const std::string& extension : files_.extensions[kind]) {
      const std::string dotted = "." + Folded(extension);
      if (folded_name.size() > dotted.size() && folded_name.ends_with(dotted)) return true;
    }
    return false;
  }
  const FileIndex& Index(FileKind kind) {
    FileIndex& index = indexes_[kind];
    if (!built_[kind]) {
      built_[kind] = true;
      if (kind == FileKind::kScript) {
        for (std::string_view path : files_.scripts) index.Add(path);
      } else {
        const std::span<const std::string> media = kind == FileKind::kImage   ? files_.images
                                                   : kind == FileKind::kAudio ? files_.sounds
                                                                              : files_.movies;
        for (const std::string& path : media) index.Add(path);
      }
    }
    return index;
  }

  const GameFiles& files_;
  PerFileKind<FileIndex> indexes_;
  PerFileKind<bool> built_ = {};
};

void LintUnreachedScripts(Diagnostics& log, std::span<const NameUseRun> records,
                          std::span<const DefinitionRecord> labels,
                          std::span<const DefinitionRecord> functions, const GameFiles& files);

// A record and the run of records (of its script) it stands in.
struct ScriptUse {
  const NameUse* use;
  uint32_t run;
  uint32_t hash;
};
struct UseName {
  std::string_view operator()(const ScriptUse& use) const { return use.use->name.view(); }
};
using FirstUses = NameTable<ScriptUse, UseName>;

}  // namespace

void SortNameUses(std::vector<NameUse>& records) {
  std::stable_sort(records.begin(), records.end(),
                   [](const NameUse& a, const NameUse& b) { return a.line < b.line; });
}

void LintGame(Diagnostics& log, const CheckSet& checks,
              std::span<const NameUseRun> records,
              std::span<const DefinitionRecord> labels, std::span<const DefinitionRecord> functions,
              const GameFiles& files) {
  const DefinedNames label_names = Names(labels);
  const DefinedNames function_names = Names(functions);
  // How many records of each kind there are: the most each table keeps.
  size_t counts[256] = {};  // by NameUse::Kind
  for (const NameUseRun& group : records) {
    for (const NameUse& use : group.uses) ++counts[use.kind];
  }
  // The first definition of each label, in source order.
  FirstUses first_labels;
  first_labels.Reserve(counts[NameUse::kLabel]);
  for (uint32_t run = 0; run < records.size(); ++run) {
    for (const NameUse& use : records[run].uses) {
      if (use.kind == NameUse::kLabel) first_labels.Add({&use, run, 0});
    }
  }
  FileCheck file_check(files);
  // The first declaration of each variable in source order (the order of
  // the scripts' paths), kept in that order, and the names that commands
  // make (a record each, the first of each name).
  FirstUses first_declarations, made_names;
  if (checks.AnyVariableCheck()) {
    first_declarations.Reserve(counts[NameUse::kVariableDeclaration] + counts[NameUse::kLocalDeclaration]);
    made_names.Reserve(counts[NameUse::kMadeName] + counts[NameUse::kAssignedWord]);
    for (uint32_t run = 0; run < records.size(); ++run) {
      for (const NameUse& use : records[run].uses) {
        if (use.kind == NameUse::kVariableDeclaration || use.kind == NameUse::kLocalDeclaration) {
          first_declarations.Add({&use, run, 0});
        } else if (use.kind == NameUse::kMadeName || use.kind == NameUse::kAssignedWord) {
          // A word assigned to may be made by its assignment.
          made_names.Add({&use, run, 0});
        }
      }
    }
  }
  std::unordered_set<std::string> redeclarations_told;
  auto known = [&](std::string_view name) {
    return made_names.Contains(name) || label_names.Contains(name) ||
           function_names.Contains(name) ||
           std::find(std::begin(kBuiltInValues), std::end(kBuiltInValues), name) !=
               std::end(kBuiltInValues);
  };
  auto nearest_declared = [&](std::string_view word) {
    // Two edits, fewer for short words (any name is near a word of two).
    const size_t max_edits = std::min<size_t>(2, word.size() / 3);
    std::string_view nearest;
    size_t best = max_edits + 1;
    for (const ScriptUse& declared : first_declarations.entries()) {
      const std::string_view name = declared.use->name.view();
      const size_t distance = StatementLint::EditDistance(word, name, std::min(best, max_edits));
      if (distance < best) {
        best = distance;
        nearest = name;
      }
    }
    return nearest;
  };

  for (const NameUseRun& group : records) {
    for (const NameUse& use : group.uses) {
      const std::string_view name = use.name;
      const SourcePlace place{group.script, use.line, use.column};
      auto warn = [&](Check check, std::string_view message, std::initializer_list<LogArg> args,
                      const RelatedPlace* related = nullptr) {
        if (!checks.On(check)) return;
        std::span<const RelatedPlace> places;
        if (related != nullptr) places = {related, 1};
        log.WarningAt(place, message, args, {CheckName(check), places});
      };
      switch (use.kind) {
        case NameUse::kFunctionCall:
          if (!function_names.Contains(name)) {
            warn(Check::kUndefinedFunction, kMsgUndefinedFunction, {name});
          }
          break;
        case NameUse::kGoto:
          if (!label_names.Contains(name)) {
            warn(Check::kUndefinedLabel, kMsgUndefinedLabel, {name});
          }
          break;
        case NameUse::kSecondFunction:
        case NameUse::kSecondLabel: {
          const auto [first_line, first_column] = group.FirstPlaceOf(use);
          const RelatedPlace first{{group.script, first_line, first_column}, kFirstDefinition};
          if (use.kind == NameUse::kSecondLabel) {
            warn(Check::kDuplicateLabel, kMsgSecondLabel, {name}, &first);
          } else {
            warn(Check::kDuplicateFunction, kMsgSecondFunction, {name}, &first);
          }
          break;
        }
        case NameUse::kLabel: {
          const ScriptUse& found = *first_labels.Find(name);
          if (found.use == &use) break;
          const NameUse& first = *found.use;
          const std::string_view first_script = records[found.run].script;
          const RelatedPlace related{{first_script, first.line, first.column}, kFirstDefinition};
          warn(Check::kDuplicateLabel, kMsgLabelInTwoScripts,
               {name, LogArg::Path(first_script), first.line}, &related);
          break;
        }
        case NameUse::kVariableUse:
        case NameUse::kInitialValueWord:
        case NameUse::kAssignedWord: {
          if (const ScriptUse* declared = first_declarations.Find(name)) {
            const NameUse& first = *declared->use;
            const std::string_view first_script = records[declared->run].script;
            // The runs of a script share its path's bytes.
            const bool same_script =
                first_script.data() == group.script.data() || first_script == group.script;
            const bool later_here = same_script &&
                                    (first.line > use.line ||
                                     (first.line == use.line && first.column > use.column));
            if (!later_here || !checks.On(Check::kUsedBeforeDeclaration)) break;
            const RelatedPlace related{{first_script, first.line, first.column}, kFirstDeclaration};
            warn(Check::kUsedBeforeDeclaration, kMsgUsedBeforeDeclaration, {name, first.line},
                 &related);
            log.NoteAt(place, kNoteUsedBeforeDeclaration);
            break;
          }
          if (known(name) || !checks.On(Check::kUndeclaredVariable)) break;
          const std::string_view word = name;
          const StatementLint::WordShape shape = StatementLint::ShapeOf(word);
          if (use.kind == NameUse::kInitialValueWord && shape == StatementLint::WordShape::kName) {
            warn(Check::kUndeclaredVariable, kMsgTextAfterAt, {word});
            log.NoteAt(place, kNoteQuoteIt, {word});
          } else if (shape == StatementLint::WordShape::kFullWidthNumber) {
            warn(Check::kUndeclaredVariable, kMsgFullWidthNumber, {word});
            log.NoteAt(place, kNoteFullWidthNumber, {StatementLint::AsciiDigits(word)});
          } else if (shape == StatementLint::WordShape::kImeQuotes) {
            warn(Check::kUndeclaredVariable, kMsgImeQuotes, {word});
            log.NoteAt(place, kNoteImeQuotes);
          } else if (file_check.HasAnyExtension(word)) {
            warn(Check::kUndeclaredVariable, kMsgFileWord, {word});
            log.NoteAt(place, kNoteQuoteIt, {word});
          } else {
            const std::string_view nearest = nearest_declared(word);
            if (nearest.empty()) {
              warn(Check::kUndeclaredVariable, kMsgUndeclared, {word});
            } else {
              warn(Check::kUndeclaredVariable, kMsgUndeclaredNear, {word, nearest});
            }
            log.NoteAt(place, kNoteUndeclared);
          }
          break;
        }
        case NameUse::kVariableDeclaration: {
          const ScriptUse* declared = first_declarations.Find(name);
          if (declared == nullptr || !checks.On(Check::kRedeclaredVariable)) break;
          const NameUse& first = *declared->use;
          const std::string_view first_script = records[declared->run].script;
          if (&first == &use || first.kind != NameUse::kVariableDeclaration) break;
          // Once per name and script: the first declaration again.
          std::string told(group.script);
          told.append(1, '\n').append(name);
          if (!redeclarations_told.insert(std::move(told)).second) break;
          const RelatedPlace related{{first_script, first.line, first.column}, kFirstDeclaration};
          warn(Check::kRedeclaredVariable, kMsgRedeclared,
               {name, LogArg::Path(first_script), first.line}, &related);
          log.NoteAt(place, kNoteRedeclared, {name});
          break;
        }
        case NameUse::kLocalDeclaration:
        case NameUse::kMadeName:
          break;
        case NameUse::kFileName: {
          if (!checks.On(Check::kMissingFile)) break;
          std::string_view in_other_case;
          if (file_check.Exists(name, &in_other_case)) break;
          if (in_other_case.empty()) {
            warn(Check::kMissingFile, kMsgMissingFile, {name});
          } else {
            warn(Check::kMissingFile, kMsgFileCaseDiffers, {name, LogArg::Path(in_other_case)});
          }
          break;
        }
      }
    }
  }
  if (checks.On(Check::kUnreachedScript)) LintUnreachedScripts(log, records, labels, functions, files);
}

namespace {

// Scripts other than main.txt that nothing reaches: no script_change or
// script_load names them (by a literal name; a computed one may name any
// script, and then none is warned of), and nothing uses their labels and
// functions.
void LintUnreachedScripts(Diagnostics& log, std::span<const NameUseRun> records,
                          std::span<const DefinitionRecord> labels,
                          std::span<const DefinitionRecord> functions, const GameFiles& files) {
  std::vector<std::vector<std::string_view>> named;
  std::unordered_set<std::string_view> used_labels, used_functions;
  for (const NameUseRun& group : records) {
    for (const NameUse& use : group.uses) {
      if (use.kind == NameUse::kGoto) used_labels.insert(use.name);
      if (use.kind == NameUse::kFunctionCall) used_functions.insert(use.name);
      if (use.kind != NameUse::kFileName) continue;
      if (use.name.empty()) return;
      std::vector<std::string_view> parts;
      if (!PathParts(use.name, &parts)) return;  // relative to a folder: any script
      if (!parts.empty()) named.push_back(std::move(parts));
    }
  }
  std::unordered_set<std::string_view> used_scripts;
  for (const DefinitionRecord& label : labels) {
    if (used_labels.count(label.name)) used_scripts.insert(label.script);
  }
  for (const DefinitionRecord& function : functions) {
    if (used_functions.count(function.name)) used_scripts.insert(function.script);
  }
  std::vector<std::string_view> scripts(files.scripts.begin(), files.scripts.end());
  std::sort(scripts.begin(), scripts.end());
  for (std::string_view script : scripts) {
    std::vector<std::string_view> parts;
    if (!PathParts(script, &parts) || parts.empty() || parts.back() == "main.txt") continue;
    if (used_scripts.count(script)) continue;
    const bool reached = std::any_of(named.begin(), named.end(), [&](const auto& name) {
      return name.size() <= parts.size() && std::equal(name.begin(), name.end(), parts.end() - static_cast<std::ptrdiff_t>(name.size()));
    });
    if (reached) continue;
    // At its first line: the designed form shows no file without a line.
    const SourcePlace place{script, 1, 1};
    log.WarningAt(place, kMsgUnreachedScript, {LogArg::Path(script)},
                  {CheckName(Check::kUnreachedScript), {}});
    log.NoteAt(place, kNoteUnreachedScript);
  }
}

}  // namespace

PerFileKind<std::span<const std::string>> ExtensionsOf(const RunOptions& options) {
  PerFileKind<std::span<const std::string>> lists;
  for (FileKind kind : kFileKinds) lists[kind] = options.extensions[kind];
  return lists;
}

void LintGame(KCSystem& sys) {
  // The variables declared, which the checks of each statement looked up,
  // go first: these checks find the declarations in the records, and a
  // game that declares names by the hundred thousand would otherwise hold
  // them twice.
  sys.carried.declaredVariables = DeclaredVariableSet();
  RunResults& results = sys.results;
  GameFiles files;
  for (const auto& [path, object] : results.Objects) files.scripts.push_back(path);
  // A KCSystem that registered no script (one made only to check the names
  // that scripts compiled before left) knows no file of the game to compare
  // file names with.
  CheckSet checks = sys.options.checks;
  if (results.Objects.empty()) checks.Remove(Check::kMissingFile);
  files.images = results.ImageFiles;
  files.sounds = results.AudioFiles;
  files.movies = results.MovieFiles;
  files.extensions = ExtensionsOf(sys.options);
  const std::vector<NameUseRun> records = results.NameUses.InSourceOrder();
  LintGame(sys.log, checks, records, results.LabelDefinitions, results.FunctionDefinitions, files);
  results.NameUses.Clear();
}

}  // namespace kv
