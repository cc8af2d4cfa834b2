#include "workspace/game_analysis.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <functional>
#include <iterator>
#include <new>
#include <unordered_set>
#include <set>
#include <stdexcept>
#include <string_view>
#include <tuple>
#include <utility>

#include "driver/game_lint.h"
#include "driver/options.h"
#include "language/command_table.h"
#include "platform/bulk_memory.h"
#include "platform/console.h"
#include "platform/lexical_path.h"
#include "source/source_loader.h"
#include "source/statement.h"
#include "source/tokenizer.h"
#include "workspace/document_store.h"
#include "workspace/game_root.h"

namespace kv {
namespace {

// Texts of the analysis, in the program's own words (UTF-8 here, CP932 in
// what the analysis returns).
constexpr std::string_view kRelatedFirstDefinition = "最初の定義";
constexpr std::string_view kRelatedBlockOpening = "ブロックの開始";
constexpr std::string_view kRefuseNothing = "ここには名前を変えられるラベルも関数もありません";
constexpr std::string_view kRefuseBadName = "\"%s\" はラベルや関数の名前になりません";
constexpr std::string_view kRefuseTakenName = "\"%s\" はすでに %s %d 行目に定義されています";
constexpr std::string_view kHoverLabel = "ラベル";
constexpr std::string_view kHoverFunction = "関数";
constexpr std::string_view kHoverDefinedAt = "定義: ";
constexpr std::string_view kHoverNotDefined = "どのスクリプトにも定義されていません";
constexpr std::string_view kHoverDeclaredAt = "宣言: ";
constexpr std::string_view kHoverLine = " 行目";
constexpr std::string_view kHoverNoParameters = "パラメータなし";
constexpr std::string_view kHoverParameters = "パラメータ ";
constexpr std::string_view kHoverParametersUnit = " 個";
constexpr std::string_view kHoverSetup = "create_window の前にも使えます";
constexpr std::string_view kHoverNotSetup = "create_window の後でだけ使えます";
constexpr std::string_view kHoverAliasOf = "の別名";

// Console lines of the checks are not shown: what they report reaches the
// analysis as records.
class DiscardSink : public MessageSink {
 public:
  void Write(std::string_view) override {}
};

std::string Own(std::string_view utf8) { return Utf8ToCp932(utf8); }

int32_t CountErrors(const ReportList& list) {
  return static_cast<int32_t>(std::count_if(
      list.begin(), list.end(),
      [](const ReportedDiagnostic& d) { return d.kind != Diagnostic::Kind::kWarning; }));
}

// The text of a line without its line end.
std::string_view LineText(const DocumentText& text, int32_t line) {
  if (line < 1 || line > text.LineCount()) return {};
  const size_t start = text.LineStart(line);
  const std::string& all = text.cp932();
  size_t end = all.find('\n', start);
  if (end == std::string::npos) end = all.size();
  if (end > start && all[end - 1] == '\r') --end;
  return std::string_view(all).substr(start, end - start);
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

int32_t CommandIdOf(std::string_view name) {
  for (int32_t id = 0; id < kCommandCount; ++id) {
    if (kCommands[id].name == name) return id;
  }
  return CmdInvalid;
}

bool IsSetupCommand(int32_t id) {
  return std::binary_search(kSetupCommandIds.begin(), kSetupCommandIds.end(), id);
}

// "2", "1 - 3", "1 - 255" or "none", as the command table allows.
std::string ParameterCounts(ParamCount count) {
  if (count.min == 0 && count.max == 0) return Own(kHoverNoParameters);
  std::string counts = Own(kHoverParameters);
  const int32_t max = count.max == 0 ? 255 : count.max;
  counts += std::to_string(count.min);
  if (max != count.min) counts += " - " + std::to_string(max);
  return counts + Own(kHoverParametersUnit);
}

bool SameReport(const ReportedDiagnostic& a, const ReportedDiagnostic& b) {
  auto key = [](const ReportedDiagnostic& d) {
    return std::tie(d.kind, d.path, d.line, d.column, d.message, d.check);
  };
  if (key(a) != key(b) || a.related.size() != b.related.size()) return false;
  for (size_t i = 0; i < a.related.size(); ++i) {
    const ReportedDiagnostic::Related& x = a.related[i];
    const ReportedDiagnostic::Related& y = b.related[i];
    if (std::tie(x.path, x.line, x.column, x.message) != std::tie(y.path, y.line, y.column, y.message))
      return false;
  }
  return true;
}

// A report found again, at the same place with the same words, keeps the
// ranges worked out for it before: the text they were worked out from has
// not changed, or the report would not be the same.
void KeepShown(ReportList& old, ReportList* now) {
  if (old.size() != now->size() || !std::equal(old.begin(), old.end(), now->begin(), SameReport)) return;
  *now = std::move(old);
}

// Folds what an editor is shown of a diagnostic into `digest`.
uint64_t Digest(uint64_t digest, const SourceDiagnostic& d) {
  auto mix = [&digest](uint64_t value) {
    digest = (digest ^ value) * 0x100000001B3u;
    digest ^= digest >> 29;
  };
  auto range = [&](const SourceRange& r) {
    for (int32_t n : {r.start.line, r.start.column, r.end.line, r.end.column}) mix(static_cast<uint32_t>(n));
  };
  const std::hash<std::string_view> hash;
  range(d.range);
  mix(static_cast<uint64_t>(d.severity));
  mix(hash(d.code));
  mix(hash(d.message));
  for (const RelatedLocation& related : d.related) {
    mix(hash(related.location.path));
    range(related.location.range);
    mix(hash(related.message));
  }
  mix(0xD1A6);  // ends the diagnostic: lists of other lengths differ
  return digest;
}

}  // namespace

SharedText::SharedText(std::string_view text) {
  if (text.empty()) return;
  void* block = ::operator new(sizeof(Node) + text.size());
  node_ = new (block) Node{{1}, static_cast<uint32_t>(text.size())};
  std::memcpy(reinterpret_cast<char*>(node_ + 1), text.data(), text.size());
}

SharedText::~SharedText() {
  if (node_ != nullptr && node_->holders.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    node_->~Node();
    ::operator delete(node_);
  }
}

SourceDiagnostic ReportedDiagnostic::Shown(const std::string& on) const {
  SourceDiagnostic shown_as;
  shown_as.range = range;
  shown_as.severity = kind == Diagnostic::Kind::kWarning ? Severity::kWarning : Severity::kError;
  shown_as.code = check.view();
  shown_as.message = message.view();
  for (const Related& place : related) {
    const std::string& at = place.path.str().empty() ? on : place.path.str();
    shown_as.related.push_back({{at, place.range}, place.message});
  }
  return shown_as;
}

struct GameAnalysis::Script {
  std::string path;
  size_t index = 0;         // in order_
  bool started = false;     // compiled by the last whole run
  // Can be compiled alone: began in the main phase, or is main.txt and its
  // setup phase ended in it, at create_window.
  bool from_state = false;
  // The state it began and ended in, and the errors counted while it was
  // compiled: when the count of the start plus those is the count of the
  // end, the error limit did not fire in it.
  CarriedState start, end;
  int32_t errors = 0;
  int32_t search_errors = 0;
  ReportList search;   // reported when the search registered it
  ReportList compile;  // reported while it was compiled
  ReportList cross;    // the cross-script checks' about its records
  ReportList unreached;  // that nothing reaches it
  // What the cross-script checks read of it.
  std::vector<NameUse> uses;
  std::vector<FirstDefinition> firsts;  // of its second definitions, by place
  std::vector<NameStore::Id> labels, functions;  // interned (GameAnalysis::names_)
  // The names its statements define and use, in the order they stand: all
  // of them (`all_mentions`) for a script open in the editor or one that
  // cannot be compiled alone; of another, only the definitions and folder
  // settings, which the queries of the whole game read (its other names are
  // read again by compiling it alone, see MentionsAgain).
  std::vector<Mention> mentions;
  bool all_mentions = true;
  // Of a script that keeps only some: every name its mentions hold other
  // than files and folders, interned, each once, sorted by number: the
  // scripts a query of a name compiles again.
  std::vector<NameStore::Id> mentioned;
  // Where its compile reads or changes the variables declared so far: the
  // leading words of its statements that no command compiles (whether each
  // names a declared variable changes what is said of it) and the names it
  // declares.
  std::vector<NameStore::Id> asked, declared_names;
  // What its compile reads of the aliases made before it: a hash of each
  // name it looked up among them (kept sorted and unique now and then; a
  // name that shares another's hash only makes it compile again when it
  // need not), and whether it read them all or made one.
  std::vector<uint32_t> alias_reads;
  size_t alias_reads_sorted = 0;
  bool reads_all_aliases = false;
  int compiled_at = 0;  // the count of compiles when it compiled alone last
  // What the checks of the other scripts read of it (see Summarise), as
  // indexes into `uses`: the first definition of each label, the first
  // declaration of each variable, the first making of each name, in source
  // order; and the names it goes to, calls and names as files, each once.
  std::vector<uint32_t> defined, reaches;
  // Every name its records and definitions hold, interned, each once,
  // sorted by number.
  std::vector<NameStore::Id> names;
  bool undeclared = false;  // an undeclared-variable finding of its own
  // While an analysis compiles it again: what it defined and reached before.
  bool recompiled = false;
  std::vector<NameStore::Id> old_labels, old_functions;
  // A record of `defined` or `reaches` as the checks of the others read it.
  struct Picked {
    NameStore::Id name;
    NameUse::Kind kind;
    int32_t line, column;
    auto operator<=>(const Picked&) const = default;
  };
  std::vector<Picked> old_defined, old_reaches;
  std::set<std::string> foreign;  // files other than its own that it reports on
};

namespace {

bool IsDeclaration(NameUse::Kind kind) {
  return kind == NameUse::kVariableDeclaration || kind == NameUse::kLocalDeclaration;
}
bool IsMaking(NameUse::Kind kind) {
  return kind == NameUse::kMadeName || kind == NameUse::kAssignedWord;
}

// Sorted, each once, at their size: what a compiled script keeps of the
// names it asked about and declared and of the aliases it looked up is only
// ever searched, and a large script asks of the same few names by the
// million.
template <typename Value>
void KeepEachOnce(std::vector<Value>& values) {
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
  values.shrink_to_fit();
}

void KeepReadsOnce(GameAnalysis::Script& script) {
  KeepEachOnce(script.asked);
  KeepEachOnce(script.declared_names);
  KeepEachOnce(script.alias_reads);
  script.alias_reads_sorted = script.alias_reads.size();
}

// What of a script's records the findings of the other scripts depend on:
// LintGame reads the first label definition, variable declaration and
// making of each name in source order, and nothing else of a script whose
// own findings are not wanted. `intern` gives a name's one copy.
template <typename Intern>
void Summarise(GameAnalysis::Script& script, Intern&& intern) {
  script.defined.clear();
  script.reaches.clear();
  script.names.clear();
  std::unordered_set<std::string_view> declared, made, reached[3];
  for (uint32_t i = 0; i < script.uses.size(); ++i) {
    const NameUse& use = script.uses[i];
    script.names.push_back(intern(use.name.view()));
    if (use.kind == NameUse::kLabel || (IsDeclaration(use.kind) && declared.insert(use.name).second) ||
        (IsMaking(use.kind) && made.insert(use.name).second)) {
      script.defined.push_back(i);
    }
    const int reach = use.kind == NameUse::kGoto           ? 0
                      : use.kind == NameUse::kFunctionCall ? 1
                      : use.kind == NameUse::kFileName     ? 2
                                                           : -1;
    if (reach >= 0 && reached[reach].insert(use.name).second) script.reaches.push_back(i);
  }
  for (const auto* list : {&script.labels, &script.functions}) script.names.insert(script.names.end(), list->begin(), list->end());
  std::sort(script.names.begin(), script.names.end());
  script.names.erase(std::unique(script.names.begin(), script.names.end()), script.names.end());
  script.names.shrink_to_fit();
  script.defined.shrink_to_fit();
  script.reaches.shrink_to_fit();
}

using Picked = GameAnalysis::Script::Picked;

// The records of a script that `picked` indexes (Script::defined, reaches),
// their names as `find` numbers them.
template <typename Find>
std::vector<Picked> PickedOf(const GameAnalysis::Script& script, const std::vector<uint32_t>& picked,
                             Find&& find) {
  std::vector<Picked> records;
  records.reserve(picked.size());
  for (uint32_t i : picked) {
    const NameUse& use = script.uses[i];
    records.push_back({find(use.name.view()), use.kind, use.line, use.column});
  }
  return records;
}

// The names whose records in `before` and `now` differ (kind or place).
void DifferingNames(std::vector<Picked> before, std::vector<Picked> now,
                    std::vector<NameStore::Id>* names) {
  std::sort(before.begin(), before.end());
  std::sort(now.begin(), now.end());
  std::vector<Picked> differ;
  std::set_symmetric_difference(before.begin(), before.end(), now.begin(), now.end(),
                                std::back_inserter(differ));
  for (const Picked& record : differ) names->push_back(record.name);
}

// The interned names that stand in only one of `before` and `now`.
void DifferingNames(std::vector<NameStore::Id> before, std::vector<NameStore::Id> now,
                    std::vector<NameStore::Id>* names) {
  std::sort(before.begin(), before.end());
  std::sort(now.begin(), now.end());
  std::set_symmetric_difference(before.begin(), before.end(), now.begin(), now.end(),
                                std::back_inserter(*names));
}

// The variables a script declares first, in order: the order in which the
// checks suggest a declared name for an undeclared one.
std::vector<NameStore::Id> DeclaredNames(const std::vector<Picked>& defined) {
  std::vector<NameStore::Id> names;
  for (const Picked& record : defined) {
    if (IsDeclaration(record.kind)) names.push_back(record.name);
  }
  return names;
}

}  // namespace

// Receives the diagnostics of a run and keeps each in the list that `route`
// chooses for it; a note joins the diagnostic before it.
class GameAnalysis::Collector : public DiagnosticListener {
 public:
  using Route = std::function<ReportList*(const Diagnostic&)>;
  explicit Collector(Route route) : route_(std::move(route)) {}
  void set_route(Route route) { route_ = std::move(route); }

  void OnDiagnostic(const Diagnostic& diagnostic) override {
    if (diagnostic.kind == Diagnostic::Kind::kNote) {
      if (last_ == nullptr) return;
      ReportedDiagnostic& to = *last_;
      std::string message(to.message.view());
      message += '\n';
      message += diagnostic.message;
      to.message = Text(message);
      // A note at a place of its own is also shown there.
      if (diagnostic.place.line > 0 &&
          (diagnostic.place.line != to.line || diagnostic.place.path != to.path)) {
        to.related.push_back({Path(diagnostic.place.path), diagnostic.place.line,
                              diagnostic.place.column, std::string(diagnostic.message)});
      }
      return;
    }
    ReportList* list = route_(diagnostic);
    ReportedDiagnostic& reported = list->emplace_back();
    reported.kind = diagnostic.kind;
    reported.path = Path(diagnostic.place.path);
    reported.line = diagnostic.place.line;
    reported.column = diagnostic.place.column;
    reported.message = Text(diagnostic.message);
    reported.check = CheckTag(diagnostic.check);
    for (const RelatedPlace& related : diagnostic.related) {
      const std::string_view what = related.what == "first-definition" ? kRelatedFirstDefinition
                                    : related.what == "block-opening"  ? kRelatedBlockOpening
                                                                       : related.what;
      reported.related.push_back(
          {Path(related.place.path), related.place.line, related.place.column, Own(what)});
    }
    last_ = &reported;
  }

 private:
  // The one copy of a path that this collector's reports share.
  ScriptPath Path(std::string_view path) {
    if (path.empty()) return {};
    auto it = paths_.find(path);
    if (it == paths_.end()) {
      ScriptPath shared{std::string(path)};
      it = paths_.emplace(shared.str(), shared).first;
    }
    return it->second;
  }

  // The one copy of a message that this collector's reports share, when
  // the same message came lately (a large game's findings repeat a few).
  SharedText Text(std::string_view message) {
    SharedText& kept = recent_texts_[std::hash<std::string_view>{}(message) % recent_texts_.size()];
    if (kept.view() != message) kept = SharedText(message);
    return kept;
  }

  Route route_;
  std::map<std::string_view, ScriptPath> paths_;  // viewing their own texts
  std::array<SharedText, 1024> recent_texts_;     // by their hash
  ReportedDiagnostic* last_ = nullptr;  // a list's reports never move
};

namespace {
// How many times an analysis compiles scripts that change on disk while
// they are compiled.
constexpr int kReadAttempts = 3;

// What a script keeps of a name it looked up among the aliases.
uint32_t AliasHash(std::string_view name) {
  return static_cast<uint32_t>(std::hash<std::string_view>{}(name));
}
}  // namespace

// Keeps what each statement defines and uses, and where each script began.
class GameAnalysis::Reader : public ReadingObserver, public AliasReadObserver {
 public:
  // What a compile made only to read a script's names again collects (see
  // MentionsAgain): the names of that script that `want` accepts (of one
  // name only, unless it is kNone); nothing else of the analysis changes.
  struct Collect {
    const Script* script;
    NameStore::Id name;
    const std::function<bool(const Mention&)>& want;
    std::vector<Mention> found;
  };

  Reader(GameAnalysis& analysis, KCSystem& sys, Conversion& conversion, Collect* collect = nullptr)
      : analysis_(analysis), sys_(sys), conversion_(conversion), collect_(collect) {
    // The names it reads replace some kept ones.
    if (collect_ == nullptr) ++analysis_.names_version_;
  }

  void OnScriptStart(const SourceText& source) override {
    if (collect_ != nullptr) return;
    Script* script = ScriptOf(source);
    if (script == nullptr || script->started) return;
    // A whole run: the records of the scripts read so far go to them now,
    // so that the run's list holds one script's at a time, never the
    // whole game's.
    analysis_.KeepNameUses(&sys_.results.NameUses);
    script->started = true;
    script->from_state = !sys_.script.setupPhase;
    script->start = conversion_.State();
    if (!analysis_.order_.empty()) analysis_.order_.back()->end = script->start;
    script->index = analysis_.order_.size();
    analysis_.order_.push_back(script);
  }

  void OnStatement(const SourceText& source, int32_t id, const Statement& statement) override {
    if (collect_ != nullptr) return;
    if (id == cmd::kCreateWindow && source.path == analysis_.main_script_ &&
        analysis_.create_window_line_ == 0) {
      analysis_.create_window_line_ = Diagnostics::PlaceIn(source, statement[0][0].offset).line;
    }
    if (statement.size() == 0 || statement[0].empty()) return;
    const CommandParameter& first = statement[0];
    const bool declares = id >= cmd::kValue && id <= cmd::kLocalString;
    // A word assigned to ("x = 1") is told of alike whether it was declared.
    const bool asks = (id < 0 || id >= kCommandCount) && first[0].kind == ElemWord &&
                      !(first.size() > 1 && first[1].kind == ElemOperator && first[1].text == "=");
    if (!declares && !asks) return;
    Script* script = ScriptOf(source);
    if (script == nullptr) return;
    if (asks) script->asked.push_back(analysis_.names_.Intern(first[0].text));
    if (!declares) return;
    // The first word of each parameter, behind the command's own.
    for (uint32_t p = 0; p < statement.size(); ++p) {
      const size_t at = p == 0 ? 1 : 0;
      if (at < statement[p].size() && statement[p][at].kind == ElemWord)
        script->declared_names.push_back(analysis_.names_.Intern(statement[p][at].text));
    }
  }

  AliasReadObserver* AliasReads() override { return collect_ == nullptr ? this : nullptr; }

  void OnAliasLookup(std::string_view name) override {
    Script* script = AliasReader();
    if (script == nullptr) return;
    std::vector<uint32_t>& reads = script->alias_reads;
    reads.push_back(AliasHash(name));
    if (reads.size() >= 2 * script->alias_reads_sorted + 64) {
      std::sort(reads.begin(), reads.end());
      reads.erase(std::unique(reads.begin(), reads.end()), reads.end());
      script->alias_reads_sorted = reads.size();
    }
  }

  void OnAllAliasesRead() override {
    if (Script* script = AliasReader()) script->reads_all_aliases = true;
  }

  bool WantsNames() const override { return true; }

  void OnNames(const SourceText& source, const std::vector<NameEntry>& names) override {
    if (names.empty()) return;
    Script* script = ScriptOf(source);
    if (script == nullptr) return;
    if (!decided_ && collect_ == nullptr) {
      // Decided when its names begin to come, once OnScriptStart has told
      // whether it can be compiled alone.
      script->all_mentions = analysis_.KeepsAllMentions(*script);
      decided_ = true;
    }
    for (const NameEntry& entry : names) {
      if (entry.ForChecksOnly()) continue;
      // A command's own word needs no keeping: the word at a place tells
      // it (an alias's word is kept, to lead to its new_command).
      if (entry.kind == NameEntry::kCommand && entry.name == kCommands[entry.command].name) continue;
      const NameStore::Id name = analysis_.names_.Intern(entry.name);
      if (collect_ != nullptr &&
          (script != collect_->script || (collect_->name != NameStore::kNone && name != collect_->name)))
        continue;
      if (collect_ == nullptr && !script->all_mentions) {
        if (entry.kind != NameEntry::kFile && entry.kind != NameEntry::kFolder && name != last_mentioned_) {
          mentioned_[name] = 1;
          last_mentioned_ = name;
        }
        if (!entry.definition && entry.kind != NameEntry::kFolder) continue;
      }
      const SourcePosition start = Place(source, entry.offset);
      // No comment stands inside an element: on one line, it spans its
      // bytes (a comment removed right behind it would move a place taken
      // from its end).
      const std::string_view bytes =
          std::string_view(source.contents).substr(entry.offset, entry.end - entry.offset);
      const SourcePosition end =
          bytes.find('\n') == std::string_view::npos
              ? SourcePosition{start.line, start.column + static_cast<int32_t>(bytes.size())}
              : Place(source, entry.end);
      const Mention mention(entry.kind, entry.definition, entry.command, name, start, end);
      if (collect_ != nullptr) {
        if (collect_->want(mention)) collect_->found.push_back(mention);
        continue;
      }
      pending_.Add(mention);
    }
  }

  // The names of the script read last go to it.
  ~Reader() override { Flush(); }

 private:
  // A script's names are gathered in blocks (PendingMentions) and kept in a
  // list of their exact size: the lists kept of a whole game hold no room
  // to grow, nor leave behind the storage they grew out of.
  void Flush() {
    if (current_ != nullptr) {
      pending_.MoveTo(&current_->mentions);
      if (mentioned_.size() != 0) {
        std::vector<NameStore::Id>& kept = current_->mentioned;
        const size_t before = kept.size();
        mentioned_.ForEach([&](NameStore::Id id, uint8_t) { kept.push_back(id); });
        std::sort(kept.begin() + static_cast<std::ptrdiff_t>(before), kept.end());
        std::inplace_merge(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(before), kept.end());
        kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
        kept.shrink_to_fit();
      }
    }
    pending_.Clear();
    mentioned_.clear();
    last_mentioned_ = NameStore::kNone;
  }

  // A script's names as they come, in blocks taken from the system: growing
  // never copies them (a large script reads millions), and each block goes
  // back to the system as soon as it is copied into the script's list, so
  // that the names are never held twice over.
  class PendingMentions {
   public:
    PendingMentions() = default;
    PendingMentions(const PendingMentions&) = delete;
    PendingMentions& operator=(const PendingMentions&) = delete;
    ~PendingMentions() { Clear(); }

    template <typename... Args>
    void Add(Args&&... args) {
      if (used_ == kBlock) {
        void* block = AllocateBulk(kBlock * sizeof(Mention));
        if (block == nullptr) throw std::bad_alloc();
        blocks_.push_back(static_cast<Mention*>(block));
        used_ = 0;
      }
      new (blocks_.back() + used_++) Mention(std::forward<Args>(args)...);
    }
    void MoveTo(std::vector<Mention>* kept) {
      if (blocks_.empty()) return;
      kept->reserve(kept->size() + (blocks_.size() - 1) * kBlock + used_);
      for (size_t i = 0; i < blocks_.size(); ++i) {
        const size_t count = i + 1 == blocks_.size() ? used_ : kBlock;
        kept->insert(kept->end(), blocks_[i], blocks_[i] + count);
        FreeBulk(blocks_[i], kBlock * sizeof(Mention));
      }
      blocks_.clear();
      used_ = kBlock;
    }
    void Clear() {
      for (Mention* block : blocks_) FreeBulk(block, kBlock * sizeof(Mention));
      blocks_.clear();
      used_ = kBlock;
    }

   private:
    static constexpr size_t kBlock = size_t{1} << 15;
    std::vector<Mention*> blocks_;
    size_t used_ = kBlock;  // in the last block
  };

  // The script being compiled, whose compile reads the aliases; a read with
  // none marks the analysis, whose alias changes then take a whole run.
  Script* AliasReader() {
    Script* script = sys_.script.currentSource != nullptr ? ScriptOf(*sys_.script.currentSource) : nullptr;
    if (script == nullptr) analysis_.aliases_read_elsewhere_ = true;
    return script;
  }

  Script* ScriptOf(const SourceText& source) {
    if (current_ != nullptr && current_->path == source.path) return current_;
    Flush();
    auto it = analysis_.scripts_.find(source.path);
    current_ = it == analysis_.scripts_.end() ? nullptr : it->second.get();
    decided_ = false;
    text_.reset();
    return current_;
  }

  // A place of the source as the editor counts it.
  SourcePosition Place(const SourceText& source, uint32_t offset) {
    const SourcePlace place = Diagnostics::PlaceIn(source, offset);
    if (!sys_.options.sourceIsUtf8) return {place.line, place.column};
    // The converter counts the bytes of the UTF-8 file; the analysis counts
    // CP932 bytes.
    if (!text_) text_ = analysis_.TextOf(source.path);
    if (!text_) return {place.line, place.column};
    return analysis_.Cp932Position(*text_, place.line, place.column);
  }

  GameAnalysis& analysis_;
  KCSystem& sys_;
  Conversion& conversion_;
  Collect* collect_;
  Script* current_ = nullptr;
  PendingMentions pending_;  // of current_, not yet kept
  // The names of current_'s mentions not yet added to its `mentioned`.
  IdTable<uint8_t> mentioned_;
  NameStore::Id last_mentioned_ = NameStore::kNone;
  bool decided_ = false;  // whether current_ keeps all its mentions
  std::shared_ptr<const DocumentText> text_;
};

void GameAnalysis::KeepNameUses(NameUseLog* records) {
  // A script's records share one path and mostly stand together.
  const std::string* last_path = nullptr;
  Script* last_script = nullptr;
  auto script_of = [&](const ScriptPath& path) {
    if (&path.str() != last_path) {
      last_path = &path.str();
      auto it = scripts_.find(path.str());
      last_script = it == scripts_.end() ? nullptr : it->second.get();
    }
    return last_script;
  };
  std::unordered_map<Script*, size_t> counts;
  records->ForEach([&](const ScriptPath& path, const NameUse&) {
    if (Script* script = script_of(path)) ++counts[script];
  });
  for (auto& [script, count] : counts) script->uses.reserve(script->uses.size() + count);
  records->ForEach([&](const ScriptPath& path, NameUse& use) {
    if (Script* script = script_of(path)) script->uses.push_back(std::move(use));
  });
  records->ForEachFirst([&](const ScriptPath& path, const FirstDefinition& first) {
    if (Script* script = script_of(path)) script->firsts.push_back(first);
  });
  records->Clear();
}

void GameAnalysis::Holders::Add(Script* script) {
  if (std::vector<Script*>* many = Many()) {
    if (std::find(many->begin(), many->end(), script) == many->end()) many->push_back(script);
  } else if (one_ == nullptr) {
    one_ = script;
  } else if (one_ != script) {
    auto* list = new std::vector<Script*>{one_, script};
    one_ = reinterpret_cast<Script*>(reinterpret_cast<uintptr_t>(list) | 1);
  }
}

void GameAnalysis::Holders::Remove(Script* script) {
  std::vector<Script*>* many = Many();
  if (many == nullptr) {
    if (one_ == script) one_ = nullptr;
    return;
  }
  many->erase(std::remove(many->begin(), many->end(), script), many->end());
  if (many->size() > 1) return;
  one_ = many->empty() ? nullptr : many->front();
  delete many;
}

NameStore::Id NameStore::Intern(std::string_view name) {
  const uint32_t hash = HashOf(name);
  if (4 * (starts_.size() + 1) > 3 * slots_.size()) Grow();
  const size_t slot = SlotOf(name, hash);
  if (slots_[slot] != 0) return slots_[slot] - 1;
  if (starts_.size() >= kNone - 1) throw std::length_error("too many names");
  const uint32_t size = static_cast<uint32_t>(name.size());
  const size_t needed = sizeof size + name.size();
  char* at;
  if (needed > kBlock / 4) {
    // A long name has a block of its own; the block being filled stays.
    blocks_.push_back(std::make_unique<char[]>(needed));
    at = blocks_.back().get();
  } else {
    if (needed > left_) {
      blocks_.push_back(std::make_unique<char[]>(kBlock));
      free_ = blocks_.back().get();
      left_ = kBlock;
    }
    at = free_;
    free_ += needed;
    left_ -= needed;
  }
  std::memcpy(at, &size, sizeof size);
  if (!name.empty()) std::memcpy(at + sizeof size, name.data(), name.size());
  starts_.push_back(at);
  slots_[slot] = static_cast<Id>(starts_.size());
  return slots_[slot] - 1;
}

NameStore::Id NameStore::Find(std::string_view name) const {
  if (slots_.empty()) return kNone;
  const size_t slot = SlotOf(name, HashOf(name));
  return slots_[slot] == 0 ? kNone : slots_[slot] - 1;
}

size_t NameStore::SlotOf(std::string_view name, uint32_t hash) const {
  const size_t mask = slots_.size() - 1;
  for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const Id held = slots_[slot];
    if (held == 0 || View(held - 1) == name) return slot;
  }
}

void NameStore::Grow() {
  std::vector<Id> slots(std::max<size_t>(16, 2 * slots_.size()), 0);
  const size_t mask = slots.size() - 1;
  for (Id id = 0; id < starts_.size(); ++id) {
    size_t slot = HashOf(View(id)) & mask;
    while (slots[slot] != 0) slot = (slot + 1) & mask;
    slots[slot] = id + 1;
  }
  slots_ = std::move(slots);
}

void GameAnalysis::Index(Script* script, bool add) {
  auto update = [&](NameIndex& index, NameStore::Id name) {
    if (add) {
      index[name].Add(script);
    } else if (Holders* holders = index.Find(name)) {
      holders->Remove(script);
      if (holders->empty()) index.Erase(name);
    }
  };
  for (NameStore::Id name : script->labels) update(label_definers_, name);
  for (NameStore::Id name : script->functions) update(function_definers_, name);
  for (uint32_t i : script->defined) {
    const NameUse& use = script->uses[i];
    update(use.kind == NameUse::kLabel ? first_labelers_
           : IsDeclaration(use.kind)   ? declarers_
                                       : makers_,
           names_.Intern(use.name.view()));
  }
  for (uint32_t i : script->reaches) {
    const NameUse& use = script->uses[i];
    const std::pair<int, std::string> key{use.kind, use.name.str()};
    int& count = reach_counts_[key];
    count += add ? 1 : -1;
    if (count == 0) reach_counts_.erase(key);
  }
}

GameAnalysis::GameAnalysis(FileSystem& fs) : base_(fs), fs_(fs) {}
GameAnalysis::~GameAnalysis() = default;

AnalysisFeatures GameAnalysis::Features() const {
  AnalysisFeatures features;
  features.diagnostics = true;
  features.definition = true;
  features.references = true;
  features.rename = true;
  features.hover = true;
  features.completion = true;
  features.document_symbols = true;
  features.workspace_symbols = true;
  features.completion_triggers = {"\""};
  return features;
}

void GameAnalysis::Configure(const WorkspaceSettings& settings) {
  settings_ = settings;
  fs_.set_source_encoding(settings.source_encoding);
  game_directory_ = FindGameDirectory(base_, settings.folders, settings.game_roots);
  full_run_needed_ = true;
  ranges_.clear();
}

namespace {

bool IsGameFile(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string extension = Lower(std::string_view(path).substr(dot + 1));
  for (const std::vector<std::string>& list : DefaultExtensions()) {
    if (std::find(list.begin(), list.end(), extension) != list.end()) return true;
  }
  return false;
}

}  // namespace

void GameAnalysis::SetDocument(const std::string& path, std::shared_ptr<const DocumentText> text) {
  documents_[path] = text;
  fs_.Set(path, std::move(text));
  FilesChanged({{path, FileChangeKind::kChanged}});
}

void GameAnalysis::ClearDocument(const std::string& path) {
  documents_.erase(path);
  fs_.Clear(path);
  FilesChanged({{path, FileChangeKind::kChanged}});
}

void GameAnalysis::FilesChanged(const std::vector<FileChange>& changes) {
  if (!changes.empty()) ++files_changed_;
  for (const FileChange& change : changes) {
    ranges_.erase(change.path);
    if (game_directory_.empty() || !change.path.starts_with(game_directory_)) continue;
    auto it = scripts_.find(change.path);
    const bool compiled_alone = it != scripts_.end() && it->second->from_state;
    if (change.kind == FileChangeKind::kChanged && compiled_alone) {
      if (std::find(changed_.begin(), changed_.end(), change.path) == changed_.end()) {
        changed_.push_back(change.path);
      }
    } else if (it != scripts_.end() || IsGameFile(change.path)) {
      full_run_needed_ = true;
    }
  }
}

void GameAnalysis::StampGame() {
  stamps_.clear();
  if (settings_.client_watches_files || game_directory_.empty()) return;
  auto stamp = [&](const std::string& path, bool directory) {
    std::string now;
    if (!base_.FileStamp(path, &now)) now.clear();
    stamps_[path] = {now, directory};
  };
  std::set<std::string> folders = {game_directory_};
  auto add = [&](const std::string& path) {
    stamp(path, false);
    // Every folder between the file and the game folder: a file added
    // beside it, or a folder added in one of them, changes its entries.
    for (size_t end = path.rfind(base_.Separator());
         end != std::string::npos && end + 1 > game_directory_.size();
         end = path.rfind(base_.Separator(), end - 1)) {
      if (!folders.insert(path.substr(0, end + 1)).second || end == 0) break;
    }
  };
  for (const auto& [path, script] : scripts_) add(path);
  for (const auto* list : {&image_files_, &audio_files_, &movie_files_}) {
    for (const std::string& path : *list) add(path);
  }
  for (const std::string& folder : folders) stamp(folder, true);
}

void GameAnalysis::NoticeDiskChanges() {
  if (!analysed_ || settings_.client_watches_files) return;
  std::vector<FileChange> changes;
  for (auto& [path, stamp] : stamps_) {
    std::string now;
    if (!base_.FileStamp(path, &now)) now.clear();
    if (now == stamp.stamp) continue;
    stamp.stamp = now;
    if (stamp.directory) {
      full_run_needed_ = true;
    } else if (documents_.count(path) == 0) {
      changes.push_back({path, now.empty() ? FileChangeKind::kDeleted : FileChangeKind::kChanged});
    }
  }
  FilesChanged(changes);
}

std::vector<FileDiagnostics> GameAnalysis::Analyse() {
  NoticeDiskChanges();
  changed_on_disk_ = false;
  analysing_ = true;
  bool whole = false;
  for (int attempt = 1;; ++attempt) {
    // The scripts' texts as their compiles read them: the places of their
    // reports and names are shown against those until they are compiled
    // again (a route map's reading leaves them). They are not kept but read
    // again when places are worked out, and used only while they are what
    // was compiled.
    fs_.set_keep([this](const std::string& path) { return scripts_.count(path) != 0; });
    if (analysed_ && !full_run_needed_ && !changed_.empty()) {
      std::sort(changed_.begin(), changed_.end(), [this](const std::string& a, const std::string& b) {
        return scripts_.at(a)->index < scripts_.at(b)->index;
      });
      for (const std::string& path : changed_) {
        if (!Recompile(path)) {
          full_run_needed_ = true;
          break;
        }
      }
      // The cross-script checks look again at the scripts whose findings the
      // changed ones may change.
      if (!full_run_needed_) CheckCrossReferences(false);
    }
    const bool whole_run = !analysed_ || full_run_needed_;
    if (whole_run) {
      FullRun();
      StampGame();
    }
    whole = whole || whole_run;
    // The lists of reports grew as the reports came: what they hold is
    // kept for good, without the room their last blocks keep to grow.
    auto fit = [](ReportList& list) { list.shrink_to_fit(); };
    for (auto* list : {&run_diagnostics_, &cross_diagnostics_}) fit(*list);
    for (auto& [path, script] : scripts_) {
      if (!whole_run && touched_.count(script.get()) == 0) continue;
      for (auto* list : {&script->search, &script->compile, &script->cross, &script->unreached}) fit(*list);
    }
    for (Script* script : recompiled_) {
      script->recompiled = false;
      script->old_labels.clear();
      script->old_functions.clear();
      script->old_defined.clear();
      script->old_reaches.clear();
    }
    recompiled_.clear();
    changed_.clear();
    full_run_needed_ = false;
    analysed_ = true;
    fs_.set_keep(nullptr);
    // A script that changed on disk since its compile read it is compiled
    // again: what is shown stands on the text that was compiled. One that
    // keeps changing is left to the next analysis, and no place of it is
    // shown against any text meanwhile.
    std::vector<FileChange> moved;
    for (std::string& path : fs_.CheckRead()) moved.push_back({std::move(path), FileChangeKind::kChanged});
    FilesChanged(moved);
    if (moved.empty() || attempt == kReadAttempts) break;
  }
  analysing_ = false;
  // A whole run's checks free far more than publishing takes again.
  if (whole) ReleaseFreeMemory();
  return Publish(whole);
}

void GameAnalysis::FullRun() {
  ++full_runs_;
  lookup_kept_ = nullptr;
  aliases_read_elsewhere_ = false;
  recompiled_.clear();
  touched_.clear();
  foreign_.clear();
  label_definers_.clear();
  function_definers_.clear();
  first_labelers_.clear();
  declarers_.clear();
  makers_.clear();
  reach_counts_.clear();
  scripts_.clear();
  fs_.ForgetRead();
  order_.clear();
  run_diagnostics_.clear();
  cross_diagnostics_.clear();
  image_files_.clear();
  audio_files_.clear();
  movie_files_.clear();
  create_window_line_ = 0;
  if (game_directory_.empty()) return;
  main_script_ = game_directory_ + kMainScriptName;

  DiscardSink sink;
  KCSystem sys(fs_, sink, ConsoleEncoding::kCp932);
  // While the search registers scripts, what it reports about one belongs
  // to that script.
  std::map<std::string, ReportList> found;
  Collector collector([&](const Diagnostic& d) -> ReportList* {
    if (d.place.path.empty()) return &run_diagnostics_;
    return &found[std::string(d.place.path)];
  });
  sys.log.set_listener(&collector);

  // As `KVConverter --check` run in the game folder.
  std::vector<std::string> args = {"KVConverter",   "--check", "-xd",
                                   game_directory_, "-td",     game_directory_};
  for (const char* option : {"-so", "-io", "-ao", "-mo"}) {
    const RunOptions defaults;
    const std::string& name = option[1] == 's'   ? defaults.scriptObjectName
                              : option[1] == 'i' ? defaults.imageObjectName
                              : option[1] == 'a' ? defaults.audioObjectName
                                                 : defaults.movieObjectName;
    args.insert(args.end(), {option, game_directory_ + name});
  }
  if (settings_.source_encoding == SourceEncoding::kUtf8) args.push_back("--source-encoding=utf-8");
  bool script_found = false;
  const OptionsResult parsed = ParseOptions(sys, args, &script_found);
  options_ = sys.options;
  for (const auto& [path, object] : sys.results.Objects) {
    auto script = std::make_unique<Script>();
    script->path = path;
    scripts_.emplace(path, std::move(script));
  }
  for (auto& [path, list] : found) {
    auto it = scripts_.find(path);
    ReportList& to =
        it == scripts_.end() ? run_diagnostics_ : it->second->search;
    for (ReportedDiagnostic& d : list) to.push_back(std::move(d));
  }
  for (auto& [path, script] : scripts_) script->search_errors = CountErrors(script->search);
  image_files_ = sys.results.ImageFiles;
  audio_files_ = sys.results.AudioFiles;
  movie_files_ = sys.results.MovieFiles;
  if (parsed != OptionsResult::kSearched) return;
  if (!script_found) {
    Conversion::FinishObjects(sys);
    return;
  }

  // A report about a script goes to that script; one without a place to the
  // script being compiled, whose errors it counts.
  collector.set_route([&](const Diagnostic& d) -> ReportList* {
    auto current = scripts_.end();
    if (sys.script.currentSource != nullptr)
      current = scripts_.find(sys.script.currentSource->path);
    if (current != scripts_.end() && d.kind == Diagnostic::Kind::kError) ++current->second->errors;
    auto it = scripts_.find(std::string(d.place.path));
    if (it == scripts_.end()) it = current;
    return it == scripts_.end() ? &run_diagnostics_ : &it->second->compile;
  });
  Conversion conversion(sys);
  Reader reader(*this, sys, conversion);
  conversion.set_observer(&reader);
  Script* main_script = nullptr;
  if (auto it = scripts_.find(main_script_); it != scripts_.end()) {
    main_script = it->second.get();
    main_script->started = true;
    main_script->start = conversion.State();
    order_.push_back(main_script);
  }
  conversion.set_cross_reference_step([&] {
    // The last script's records; the run's list is given back before the
    // checks of the whole game run.
    KeepNameUses(&sys.results.NameUses);
    for (auto& [path, script] : scripts_) {
      KeepReadsOnce(*script);
      SortNameUses(script->uses);
      std::sort(script->firsts.begin(), script->firsts.end());
    }
    for (auto [list, member] : {std::pair{&sys.results.LabelDefinitions, &Script::labels},
                                std::pair{&sys.results.FunctionDefinitions, &Script::functions}}) {
      for (const DefinitionRecord& record : *list) {
        auto it = scripts_.find(std::string(record.script));
        if (it != scripts_.end()) (it->second.get()->*member).push_back(names_.Intern(record.name.view()));
      }
    }
    if (!order_.empty()) order_.back()->end = conversion.State();
    // The run's own table of the variables declared is read no more (the
    // last script's end state holds them): it goes before the checks of the
    // whole game, as the converter's own run lets it go.
    sys.carried.declaredVariables = DeclaredVariableSet();
    for (auto& [path, script] : scripts_) {
      Summarise(*script, [this](std::string_view name) { return names_.Intern(name); });
      Index(script.get(), true);
    }
    // What the compile and the summaries freed (each script's sets of names,
    // the run's tables) lies in small blocks amid what is kept, and stays
    // resident: the checks' large tables come from the system apart and do
    // not reuse it, nor the room the store of names keeps for names to
    // come. It goes back before they are made.
    names_.shrink_to_fit();
    ReleaseFreeMemory();
    CheckCrossReferences(true);
  });
  if (conversion.StartScriptConversion()) {
    if (main_script != nullptr && sys.script.currentSource != nullptr &&
        sys.script.currentSource->path == main_script_) {
      main_script->from_state = true;
    }
    conversion.RunMainPhase();
  }
}

bool GameAnalysis::Recompile(const std::string& path) {
  std::vector<Script*> asking;
  if (!CompileOnward(path, &asking)) return false;
  // One compiled already, as the state before it changed, began where the
  // ones before it now end.
  const int since = script_compiles_;
  for (Script* script : asking) {
    if (script->compiled_at > since) continue;
    if (!CompileOnward(script->path, nullptr)) return false;
  }
  return true;
}

bool GameAnalysis::HandOnDeclared(const CarriedState& end, size_t from,
                                  std::vector<Script*>* asking) {
  const CarriedState& before = order_[from]->start;
  if (end.aliases != before.aliases || end.mainScriptEnded != before.mainScriptEnded) return false;
  std::vector<std::string> added, removed;
  end.declaredVariables.DifferencesFrom(before.declaredVariables, &added, &removed);
  if (added.empty() && removed.empty()) return false;
  for (size_t k = from; k < order_.size(); ++k) {
    if (!order_[k]->from_state) return false;
  }
  // Each name that main.txt declares now or no longer, and whether the
  // states as they were held it (a name added) or the new ones hold it (a
  // name taken away) anyway: from the first script that declares it on.
  struct Changed {
    const std::string* name;
    bool added;
    bool declared_since = false;
  };
  std::vector<Changed> changed;
  for (const std::string& name : added) changed.push_back({&name, true});
  for (const std::string& name : removed) changed.push_back({&name, false});
  std::sort(changed.begin(), changed.end(),
            [](const Changed& a, const Changed& b) { return *a.name < *b.name; });
  auto find = [&](NameStore::Id id) -> Changed* {
    const std::string_view name = Name(id);
    auto it = std::lower_bound(changed.begin(), changed.end(), name,
                               [](const Changed& c, std::string_view n) { return *c.name < n; });
    return it != changed.end() && *it->name == name ? &*it : nullptr;
  };
  // Names taken away: one eraser while the same names go, so that states
  // sharing layers share the rebuilt ones.
  std::unique_ptr<DeclaredVariableSet::Eraser> eraser;
  auto update = [&](DeclaredVariableSet* set) {
    for (const Changed& c : changed) {
      if (c.added && !c.declared_since) set->InsertNew(*c.name);
    }
    if (!eraser) {
      std::vector<std::string> gone;
      for (const Changed& c : changed) {
        if (!c.added && !c.declared_since) gone.push_back(*c.name);
      }
      if (gone.empty()) return;
      eraser = std::make_unique<DeclaredVariableSet::Eraser>(std::move(gone));
    }
    eraser->EraseFrom(set);
  };
  for (size_t k = from; k < order_.size(); ++k) {
    Script* script = order_[k];
    update(&script->start.declaredVariables);
    bool asks = false;
    for (NameStore::Id name : script->asked) asks = asks || find(name) != nullptr;
    for (NameStore::Id name : script->declared_names) {
      if (Changed* c = find(name)) {
        asks = true;
        if (!c->declared_since && !c->added) eraser.reset();
        c->declared_since = true;
      }
    }
    update(&script->end.declaredVariables);
    if (asks) asking->push_back(script);
  }
  return true;
}

bool GameAnalysis::HandOnAliases(const CarriedState& end, size_t from,
                                 std::vector<Script*>* asking) {
  const CarriedState& before = order_[from]->start;
  if (aliases_read_elsewhere_ || end.aliases == before.aliases ||
      end.mainScriptEnded != before.mainScriptEnded ||
      !(end.declaredVariables == before.declaredVariables)) {
    return false;
  }
  for (size_t k = from; k < order_.size(); ++k) {
    if (!order_[k]->from_state) return false;
  }
  // The aliases main.txt made and makes no more, those it makes now, and
  // the hashes of their names: what a compile looks up by name.
  std::vector<std::pair<int32_t, std::string>> gone, made;
  std::vector<uint32_t> names;
  for (const auto& entry : before.aliases) {
    auto it = end.aliases.find(entry.first);
    if (it == end.aliases.end() || it->second != entry.second) gone.push_back(entry);
  }
  for (const auto& entry : end.aliases) {
    auto it = before.aliases.find(entry.first);
    if (it == before.aliases.end() || it->second != entry.second) made.push_back(entry);
  }
  for (const auto* list : {&gone, &made}) {
    for (const auto& [id, name] : *list) names.push_back(AliasHash(name));
  }
  std::sort(names.begin(), names.end());
  auto update = [&](std::map<int32_t, std::string>* aliases) {
    for (const auto& [id, name] : gone) {
      auto it = aliases->find(id);
      if (it != aliases->end() && it->second == name) aliases->erase(it);
    }
    for (const auto& entry : made) aliases->insert(entry);
  };
  // A script that looks none of these names up, reads not all the aliases
  // and makes none compiles as before, and ends with the aliases it began
  // with. One that does compiles again after this, in order, from the
  // state the ones before it hand on; where what it ends with then differs
  // from what the next one begins with, those after it compile again too.
  for (size_t k = from; k < order_.size(); ++k) {
    Script* script = order_[k];
    update(&script->start.aliases);
    bool asks = script->reads_all_aliases;
    for (uint32_t hash : script->alias_reads) {
      if (asks) break;
      asks = std::binary_search(names.begin(), names.end(), hash);
    }
    update(&script->end.aliases);
    if (asks) asking->push_back(script);
  }
  return true;
}

bool GameAnalysis::CompileOnward(const std::string& path, std::vector<Script*>* asking) {
  Script* script = scripts_.at(path).get();
  if (!script->from_state) return false;
  // The table of the variables declared before the script, built once for
  // the script edited last and shared by each compile of it: a late script
  // of a large game starts with every name the game declared before it.
  if (lookup_kept_ != script) {
    if (lookup_kept_ != nullptr) lookup_kept_->start.declaredVariables.DropLookup();
    script->start.declaredVariables.KeepLookup();
    lookup_kept_ = script;
  }
  CarriedState state = script->start;
  for (bool first = true;; first = false) {
    ++script_compiles_;
    script->compiled_at = script_compiles_;
    DiscardSink sink;
    KCSystem sys(fs_, sink, ConsoleEncoding::kCp932);
    sys.options = options_;
    ReportList search;
    Collector collector([&](const Diagnostic&) { return &search; });
    sys.log.set_listener(&collector);
    if (!AddScript(sys, script->path)) return false;
    if (first) {
      // Errors found when the search registers a script count towards the
      // error limit before main.txt is compiled.
      if (CountErrors(search) != script->search_errors) return false;
      script->search = std::move(search);
    }
    Index(script, false);
    if (!script->recompiled) {
      script->recompiled = true;
      script->old_labels = script->labels;
      script->old_functions = script->functions;
      auto find = [this](std::string_view name) { return names_.Find(name); };
      script->old_defined = PickedOf(*script, script->defined, find);
      script->old_reaches = PickedOf(*script, script->reaches, find);
      recompiled_.push_back(script);
    }
    touched_.insert(script);
    script->start = state;
    script->errors = 0;
    script->compile.clear();
    script->mentions.clear();
    script->mentioned.clear();
    script->all_mentions = true;
    script->asked.clear();
    script->declared_names.clear();
    script->alias_reads.clear();
    script->alias_reads_sorted = 0;
    script->reads_all_aliases = false;
    collector.set_route([&](const Diagnostic& d) {
      if (d.kind == Diagnostic::Kind::kError) ++script->errors;
      return &script->compile;
    });
    Conversion conversion(sys);
    Reader reader(*this, sys, conversion);
    conversion.set_observer(&reader);
    if (script->path != main_script_) {
      conversion.ConvertScriptFrom(state);
    } else {
      create_window_line_ = 0;
      // Its setup phase must end in it, as it did before: otherwise the
      // other scripts compile in another phase.
      if (!conversion.ConvertMainScriptFrom(state)) return false;
    }
    script->uses.clear();
    script->firsts.clear();
    const FirstDefinition* last_firsts = nullptr;
    for (const NameUseRun& run : sys.results.NameUses.InSourceOrder()) {
      script->uses.insert(script->uses.end(), run.uses.begin(), run.uses.end());
      // The runs of one list of records share its first places.
      if (run.firsts.data() == last_firsts) continue;
      last_firsts = run.firsts.data();
      script->firsts.insert(script->firsts.end(), run.firsts.begin(), run.firsts.end());
    }
    sys.results.NameUses.Clear();
    KeepReadsOnce(*script);
    script->labels.clear();
    script->functions.clear();
    for (const DefinitionRecord& record : sys.results.LabelDefinitions)
      script->labels.push_back(names_.Intern(record.name.view()));
    for (const DefinitionRecord& record : sys.results.FunctionDefinitions) {
      script->functions.push_back(names_.Intern(record.name.view()));
    }
    Summarise(*script, [this](std::string_view name) { return names_.Intern(name); });
    Index(script, true);
    script->end = conversion.State();

    // The scripts after it begin where it ended now. One that begins in the
    // same state but for its error count, and reaches the error limit
    // neither from its old count nor from the new one, compiles as before:
    // only its counts move.
    const bool main_compiled = script->path == main_script_;
    CarriedState end = script->end;
    for (;;) {
      if (script->index + 1 >= order_.size()) return true;
      Script* next = order_[script->index + 1];
      if (next->start == end) return true;
      // Variables that main.txt declares now or no longer reach every
      // script after it, but change the compile only of those that ask
      // about or declare them: the others' states take the change in, and
      // those scripts compile again after this one.
      if (main_compiled && asking != nullptr &&
          (HandOnDeclared(end, next->index, asking) || HandOnAliases(end, next->index, asking))) {
        asking = nullptr;
        continue;
      }
      const bool limit_untouched =
          next->start.errorsSinceLimit + next->errors == next->end.errorsSinceLimit &&
          end.errorsSinceLimit + next->errors < Diagnostics::kErrorLimit;
      CarriedState same_count = end;
      same_count.errorsSinceLimit = next->start.errorsSinceLimit;
      script = next;
      if (!(next->start == same_count) || !limit_untouched) {
        // What main.txt hands on reaches every script after it: a whole run
        // compiles them sooner than one compile each.
        if (main_compiled) return false;
        break;
      }
      next->start.errorsSinceLimit = end.errorsSinceLimit;
      next->end.errorsSinceLimit = end.errorsSinceLimit + next->errors;
      end = next->end;
    }
    state = end;
  }
}

void GameAnalysis::CheckCrossReferences(bool whole) {
  // The scripts whose findings are made again: every one, or those compiled
  // again and those whose records name what these defined, declared or made
  // before or define now (and, when the declared names change, those that
  // use a name nothing declares: the checks suggest a declared one).
  std::set<Script*> again;
  bool reaches_changed = whole;
  bool definitions_changed = whole;
  if (whole) {
    for (auto& [path, script] : scripts_) again.insert(script.get());
  } else {
    // The names whose records changed, as the scripts hold them.
    std::vector<NameStore::Id> changed_names;
    bool declared_changed = false;
    auto same_reaches = [](const std::vector<Picked>& a, const std::vector<Picked>& b) {
      return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const Picked& x, const Picked& y) {
        return x.kind == y.kind && x.name == y.name;
      });
    };
    auto find = [this](std::string_view name) { return names_.Find(name); };
    for (Script* script : recompiled_) {
      again.insert(script);
      // Its text changed: a finding that nothing reaches it, kept unless the
      // game's reaches change, is shown anew at the script's new start.
      if (std::find(changed_.begin(), changed_.end(), script->path) != changed_.end()) {
        for (ReportedDiagnostic& d : script->unreached) d.shown = false;
      }
      const std::vector<Picked> defined = PickedOf(*script, script->defined, find);
      DifferingNames(script->old_defined, defined, &changed_names);
      DifferingNames(script->old_labels, script->labels, &changed_names);
      DifferingNames(script->old_functions, script->functions, &changed_names);
      if (DeclaredNames(script->old_defined) != DeclaredNames(defined)) declared_changed = true;
      if (script->old_labels != script->labels || script->old_functions != script->functions)
        definitions_changed = true;
      if (!same_reaches(script->old_reaches, PickedOf(*script, script->reaches, find)))
        reaches_changed = true;
    }
    reaches_changed = reaches_changed || definitions_changed;
    std::sort(changed_names.begin(), changed_names.end());
    changed_names.erase(std::unique(changed_names.begin(), changed_names.end()), changed_names.end());
    for (auto& [path, script] : scripts_) {
      if (declared_changed && script->undeclared) {
        again.insert(script.get());
        continue;
      }
      for (NameStore::Id name : changed_names) {
        if (std::binary_search(script->names.begin(), script->names.end(), name)) {
          again.insert(script.get());
          break;
        }
      }
    }
  }
  if (again.empty() && !reaches_changed) return;

  DiscardSink sink;
  KCSystem sys(fs_, sink, ConsoleEncoding::kCp932);
  sys.options = options_;
  // Findings about the scripts not checked again were made before and are
  // kept as they were.
  ReportList discarded;
  std::map<Script*, ReportList> old_lists;
  for (Script* script : again) {
    old_lists[script] = std::move(script->cross);
    script->cross.clear();
  }
  ReportList old_cross;
  if (whole) old_cross = std::move(cross_diagnostics_);
  cross_diagnostics_.clear();
  Collector collector([&](const Diagnostic& d) {
    auto it = scripts_.find(std::string(d.place.path));
    if (it == scripts_.end()) return whole ? &cross_diagnostics_ : &discarded;
    return again.count(it->second.get()) ? &it->second->cross : &discarded;
  });
  sys.log.set_listener(&collector);
  // The records of the scripts checked again whole, of the others what
  // the findings of those depend on: for each name that those scripts hold,
  // the first declaration of a variable, the first definition of a label so
  // named and one making of it (and the first declaration of every variable
  // when a declared name may be suggested for an undeclared one). Each in
  // source order, the scripts in the order of their paths, as the converter
  // sorts them. The checks read the definitions of labels and functions as
  // sets of names: their records view the names kept in names_, never copies.
  std::vector<DefinitionRecord> labels, functions;
  auto definition = [this](NameStore::Id name, const Script* script) {
    return DefinitionRecord{DefinitionName(names_.Stored(name)), DefinitionScript(&script->path), 0};
  };
  std::map<Script*, std::set<std::pair<int, std::string_view>>> named;
  // The first script (by path) not checked again that holds such a record.
  auto name_first = [&](int category, const Holders& holders, std::string_view name) {
    Script* first = nullptr;
    for (Script* script : holders.scripts()) {
      if (!again.count(script) && (first == nullptr || script->path < first->path)) first = script;
    }
    if (first != nullptr) named[first].insert({category, name});
  };
  auto category = [](NameUse::Kind kind) {
    return kind == NameUse::kLabel ? 0 : IsDeclaration(kind) ? 1 : 2;
  };
  if (whole) {
    // Every script's records are read: every definition is wanted.
    for (const auto& [index, list] :
         {std::pair{&label_definers_, &labels}, std::pair{&function_definers_, &functions}}) {
      std::vector<DefinitionRecord>* to = list;
      size_t count = 0;
      index->ForEach([&](NameStore::Id, const Holders& holders) { count += holders.scripts().size(); });
      to->reserve(count);
      index->ForEach([&](NameStore::Id name, const Holders& holders) {
        for (Script* script : holders.scripts()) to->push_back(definition(name, script));
      });
    }
  } else {
    std::vector<NameStore::Id> wanted;
    for (Script* script : again) wanted.insert(wanted.end(), script->names.begin(), script->names.end());
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    // Every variable's first declaration is read only when a script checked
    // again uses a variable that no script declares and nothing else names
    // (a made name, a label, a function): the checks then suggest the
    // nearest declared name, in the order of declaration.
    const bool suggests = std::any_of(again.begin(), again.end(), [&](const Script* script) {
      return std::any_of(script->uses.begin(), script->uses.end(), [&](const NameUse& use) {
        if (use.kind != NameUse::kVariableUse && use.kind != NameUse::kInitialValueWord &&
            use.kind != NameUse::kAssignedWord) {
          return false;
        }
        const std::string_view name = use.name.view();
        return HoldersOf(declarers_, name) == nullptr && HoldersOf(makers_, name) == nullptr &&
               HoldersOf(label_definers_, name) == nullptr &&
               HoldersOf(function_definers_, name) == nullptr;
      });
    });
    if (suggests) {
      declarers_.ForEach(
          [&](NameStore::Id name, const Holders& holders) { name_first(1, holders, Name(name)); });
    }
    // Each name is looked up in five indexes.
    for (NameStore::Id id : wanted) {
      const std::string_view name = Name(id);
      if (!suggests) {
        if (const Holders* list = declarers_.Find(id)) name_first(1, *list, name);
      }
      if (const Holders* list = label_definers_.Find(id)) {
        for (Script* script : list->scripts()) labels.push_back(definition(id, script));
      }
      if (const Holders* list = function_definers_.Find(id)) {
        for (Script* script : list->scripts()) functions.push_back(definition(id, script));
      }
      if (const Holders* list = first_labelers_.Find(id)) name_first(0, *list, name);
      if (const Holders* list = makers_.Find(id)) name_first(2, *list, name);
    }
  }
  std::vector<std::vector<NameUse>> kept;
  kept.reserve(scripts_.size());
  std::vector<NameUseRun> records;
  kv::GameFiles files;
  for (const auto& [path, script] : scripts_) {
    files.scripts.push_back(path);
    if (again.count(script.get())) {
      records.push_back({path, script->uses, script->firsts});
      continue;
    }
    auto it = named.find(script.get());
    if (it == named.end()) continue;
    std::vector<NameUse>& list = kept.emplace_back();
    for (uint32_t i : script->defined) {
      const NameUse& use = script->uses[i];
      if (it->second.count({category(use.kind), use.name})) list.push_back(use);
    }
    records.push_back({path, list, {}});
  }
  files.images = image_files_;
  files.sounds = audio_files_;
  files.movies = movie_files_;
  files.extensions = ExtensionsOf(options_);
  CheckSet checks = options_.checks;
  checks.Remove(Check::kUnreachedScript);
  LintGame(sys.log, checks, records, labels, functions, files);
  KeepShown(old_cross, &cross_diagnostics_);
  const std::string_view undeclared = CheckName(Check::kUndeclaredVariable);
  for (auto& [script, list] : old_lists) {
    // Not in an edited script, whose text may have changed around a report.
    if (std::find(changed_.begin(), changed_.end(), script->path) == changed_.end())
      KeepShown(list, &script->cross);
    script->undeclared = std::any_of(script->cross.begin(), script->cross.end(),
                                     [&](const ReportedDiagnostic& d) { return d.check == undeclared; });
    touched_.insert(script);
  }

  // Whether anything reaches each script: from what every script goes to,
  // calls and names, and the names each defines.
  if (!reaches_changed || !options_.checks.On(Check::kUnreachedScript)) return;
  CheckSet reach = options_.checks;
  for (int check = 0; check < static_cast<int>(Check::kCount); ++check) {
    if (check != static_cast<int>(Check::kUnreachedScript)) reach.Remove(static_cast<Check>(check));
  }
  // What the game goes to, calls and names, each once, and the labels and
  // functions it goes to and calls: what tells which scripts are reached.
  std::vector<NameUse> reached;
  labels.clear();
  functions.clear();
  for (const auto& [key, count] : reach_counts_) {
    NameUse& use = reached.emplace_back();
    use.kind = static_cast<NameUse::Kind>(key.first);
    use.name = key.second;
    use.line = use.column = 1;
    if (use.kind == NameUse::kFileName) continue;
    const bool label = use.kind == NameUse::kGoto;
    const NameStore::Id id = names_.Find(key.second);
    if (id == NameStore::kNone) continue;
    if (const Holders* list = (label ? label_definers_ : function_definers_).Find(id)) {
      for (Script* script : list->scripts()) (label ? labels : functions).push_back(definition(id, script));
    }
  }
  records.assign(1, NameUseRun{{}, reached, {}});
  std::map<Script*, ReportList> old_unreached;
  for (auto& [path, script] : scripts_) {
    old_unreached[script.get()] = std::move(script->unreached);
    script->unreached.clear();
  }
  collector.set_route([&](const Diagnostic& d) {
    auto it = scripts_.find(std::string(d.place.path));
    return it == scripts_.end() ? &discarded : &it->second->unreached;
  });
  LintGame(sys.log, reach, records, labels, functions, files);
  for (auto& [script, list] : old_unreached) {
    const bool same = list.size() == script->unreached.size() &&
                      std::equal(list.begin(), list.end(), script->unreached.begin(), SameReport);
    if (std::find(changed_.begin(), changed_.end(), script->path) == changed_.end())
      KeepShown(list, &script->unreached);
    if (!same) touched_.insert(script);
  }
}

SourcePosition GameAnalysis::Cp932Position(const DocumentText& text, int32_t line,
                                           int32_t column) const {
  if (settings_.source_encoding != SourceEncoding::kUtf8 || line < 1 || column < 1) {
    return {line, column};
  }
  const size_t utf8_start = text.Utf8OffsetOf(text.LineStart(line));
  return text.PositionAt(text.Cp932OffsetOf(utf8_start + static_cast<size_t>(column - 1)));
}

std::shared_ptr<const std::string> GameAnalysis::CompiledBytes(const std::string& path) {
  bool changed = false;
  std::shared_ptr<const std::string> bytes = fs_.Compiled(path, &changed);
  if (changed) FoundChanged(path);
  return bytes;
}

void GameAnalysis::FoundChanged(const std::string& path) {
  // Found outside an analysis (whose own check tells it): the file is
  // compiled again by the next one.
  if (analysing_) return;
  changed_on_disk_ = true;
  FilesChanged({{path, FileChangeKind::kChanged}});
}

std::shared_ptr<const DocumentText> GameAnalysis::AnalysedText(const std::string& path) {
  const std::shared_ptr<const std::string> bytes = CompiledBytes(path);
  if (!bytes) return nullptr;
  return settings_.source_encoding == SourceEncoding::kUtf8 ? DocumentText::FromUtf8(*bytes)
                                                            : DocumentText::FromCp932(*bytes);
}

std::shared_ptr<const std::string> GameAnalysis::AnalysedCp932(const std::string& path) {
  if (settings_.source_encoding != SourceEncoding::kCp932) return nullptr;
  return CompiledBytes(path);
}

uint64_t GameAnalysis::AnalysedCp932Size(const std::string& path) {
  if (settings_.source_encoding != SourceEncoding::kCp932 || documents_.count(path) != 0) return 0;
  return fs_.CompiledSize(path);
}

bool GameAnalysis::ReadAnalysedCp932(const std::string& path,
                                     const std::function<void(std::string_view)>& take) {
  if (AnalysedCp932Size(path) == 0) return false;
  bool changed = false;
  if (fs_.ReadCompiled(path, read_piece_, take, &changed)) return true;
  if (changed) FoundChanged(path);
  return false;
}

bool GameAnalysis::AnalysedFile(const std::string& path) const {
  return documents_.count(path) == 0 && fs_.WasRead(path);
}

std::shared_ptr<const DocumentText> GameAnalysis::TextOf(const std::string& path) {
  if (auto it = documents_.find(path); it != documents_.end()) return it->second;
  if (std::shared_ptr<const DocumentText> analysed = AnalysedText(path)) return analysed;
  // A file a compile read that has changed since: no place of it is shown
  // against a text that was not compiled.
  if (fs_.WasRead(path)) return nullptr;
  std::string err;
  return ReadDocumentText(base_, path, settings_.source_encoding, &err);
}

namespace {

// The element at a place of a line whose text is `line_text` (`start`: the
// place in CP932 bytes), as ElementRange makes it.
SourceRange LineElementRange(std::string_view line_text, int32_t line, int32_t column,
                             SourcePosition start) {
  if (column < 1) {
    // No column: the whole line, from its first non-blank byte.
    const size_t first = std::min(line_text.find_first_not_of(" \t"), line_text.size());
    return {{line, static_cast<int32_t>(first) + 1},
            {line, static_cast<int32_t>(line_text.size()) + 1}};
  }
  const size_t at = std::min(static_cast<size_t>(start.column - 1), line_text.size());
  // The element as the tokenizer reads it, up to the line's end.
  const size_t end = std::min(ElementEnd(line_text, at), line_text.size());
  return {start, {start.line, static_cast<int32_t>(end) + 1}};
}

}  // namespace

SourceRange GameAnalysis::ElementRange(const DocumentText* text, int32_t line,
                                       int32_t column) const {
  if (line < 1) return {{1, 1}, {1, 1}};
  if (text == nullptr) return {{line, std::max(column, 1)}, {line, std::max(column, 1)}};
  const std::string_view line_text = LineText(*text, line);
  if (column < 1) return LineElementRange(line_text, line, column, {});
  return LineElementRange(line_text, line, column, Cp932Position(*text, line, column));
}

bool GameAnalysis::RangesFromRead(const std::string& path, std::vector<PlacedRange>* places) {
  // The lines as a compile counts them (each ended by a LF), in as much as a
  // DocumentText holds; the text of a line the places stand on is gathered
  // across pieces, and the places on it are ranged at its end.
  auto next = places->begin();
  int64_t line = 1;
  size_t offset = 0;
  std::string text;
  auto line_of = [](const PlacedRange& place) { return static_cast<int64_t>(place.key >> 32); };
  auto range = [&](std::string_view line_text) {
    if (!line_text.empty() && line_text.back() == '\r') line_text.remove_suffix(1);
    for (; next != places->end() && line_of(*next) == line; ++next) {
      const auto column = static_cast<int32_t>(static_cast<uint32_t>(next->key));
      const auto at = static_cast<int32_t>(line);
      const SourceRange range = LineElementRange(line_text, at, column, {at, column});
      next->start = range.start.column;
      next->end = range.end.column;
    }
  };
  auto take = [&](std::string_view piece) {
    piece = piece.substr(0, DocumentText::kMaxBytes - std::min(offset, DocumentText::kMaxBytes));
    offset += piece.size();
    while (!piece.empty() && next != places->end()) {
      const bool wanted = line_of(*next) == line;
      const size_t end = piece.find('\n');
      if (end == std::string_view::npos) {
        if (wanted) text.append(piece);
        return;
      }
      if (wanted) {
        if (text.empty()) {
          range(piece.substr(0, end));
        } else {
          text.append(piece.substr(0, end));
          range(text);
          text.clear();
        }
      }
      piece.remove_prefix(end + 1);
      ++line;
    }
  };
  bool changed = false;
  if (!fs_.ReadCompiled(path, read_piece_, take, &changed)) {
    if (changed) FoundChanged(path);
    return false;
  }
  // The last line (ended by no LF), then those past the end: no text.
  range(text);
  while (next != places->end()) {
    line = line_of(*next);
    range({});
  }
  return true;
}

std::set<std::string> GameAnalysis::ForeignPaths(const Script& script) const {
  std::set<std::string> paths;
  for (const auto* list : {&script.search, &script.compile, &script.cross, &script.unreached}) {
    for (const ReportedDiagnostic& d : *list) {
      const std::string& path = d.path.str().empty() ? main_script_ : d.path.str();
      if (path != script.path) paths.insert(path);
    }
  }
  return paths;
}

const std::string& GameAnalysis::PathOf(const ReportedDiagnostic& d) const {
  // A report about no file in particular stands on main.txt.
  return d.path.str().empty() ? main_script_ : d.path.str();
}

void GameAnalysis::ForEachReportOn(
    const std::string& path, const std::function<void(const ReportedDiagnostic&)>& visit) const {
  // Those outside any script, those of each script as it was compiled, then
  // the cross-script checks' in the order of the scripts' paths.
  std::vector<Script*> from;
  if (auto it = scripts_.find(path); it != scripts_.end()) from.push_back(it->second.get());
  if (auto it = foreign_.find(path); it != foreign_.end()) {
    for (Script* script : it->second) {
      if (script->path != path) from.push_back(script);
    }
  }
  auto add = [&](const ReportList& list) {
    for (const ReportedDiagnostic& d : list) {
      if (PathOf(d) == path) visit(d);
    }
  };
  add(run_diagnostics_);
  std::sort(from.begin(), from.end(), [](const Script* a, const Script* b) {
    return std::tie(b->started, a->index) < std::tie(a->started, b->index);
  });
  for (const Script* script : from) {
    if (!script->started) continue;
    add(script->search);
    add(script->compile);
  }
  std::sort(from.begin(), from.end(),
            [](const Script* a, const Script* b) { return a->path < b->path; });
  for (const Script* script : from) {
    if (!script->started) add(script->search);
    add(script->cross);
    add(script->unreached);
  }
  add(cross_diagnostics_);
}

std::vector<FileDiagnostics> GameAnalysis::Publish(bool everything) {
  // The files whose lists are made again.
  std::set<std::string> paths;
  if (everything) {
    foreign_.clear();
    for (auto& [path, script] : scripts_) {
      paths.insert(path);
      script->foreign = ForeignPaths(*script);
      for (const std::string& other : script->foreign) foreign_[other].insert(script.get());
    }
    for (const auto& [path, published] : published_) paths.insert(path);
    for (const auto* list : {&run_diagnostics_, &cross_diagnostics_}) {
      for (const ReportedDiagnostic& d : *list) paths.insert(PathOf(d));
    }
  } else {
    for (Script* script : touched_) {
      paths.insert(script->path);
      for (const std::string& other : script->foreign) {
        paths.insert(other);
        foreign_[other].erase(script);
      }
      script->foreign = ForeignPaths(*script);
      for (const std::string& other : script->foreign) {
        paths.insert(other);
        foreign_[other].insert(script);
      }
    }
  }
  touched_.clear();

  std::vector<FileDiagnostics> result;
  for (const std::string& path : paths) {
    // The ranges of a report are worked out once, from the text its file has
    // then: the file changes only with an edit, which reports it again.
    std::map<std::string, std::shared_ptr<const DocumentText>> texts;
    // Those worked out now join the kept ones after the file's list.
    std::map<std::string, std::vector<std::pair<uint64_t, SourceRange>>> found;
    auto key_of = [](int32_t line, int32_t column) {
      return (static_cast<uint64_t>(static_cast<uint32_t>(line)) << 32) |
             static_cast<uint32_t>(column);
    };
    auto kept_range = [&](const std::string& at, uint64_t key) -> const SourceRange* {
      auto kept = ranges_.find(at);
      if (kept == ranges_.end()) return nullptr;
      auto& ranges = kept->second;
      auto it = std::lower_bound(ranges.begin(), ranges.end(), std::pair{key, SourceRange{}},
                                 [](const auto& a, const auto& b) { return a.first < b.first; });
      return it != ranges.end() && it->first == key ? &it->second : nullptr;
    };
    // A CP932 game's file as its compile read it is read again a piece at a
    // time, for the lines its new reports stand on alone: a large script is
    // neither converted nor held whole for its ranges, and they are worked
    // out again rather than kept (a large script's ranges would be held
    // beside the reports that hold them). A file that has changed since
    // shows its reports at their bare places.
    std::map<std::string, std::vector<PlacedRange>> read_ranges;
    std::set<std::string> changed;
    if (settings_.source_encoding == SourceEncoding::kCp932) {
      // Each place whose range is not kept, on a file that a compile read;
      // one with no line is the file's start once the file is found
      // unchanged (it is read all the same, as for any other place).
      auto places_to_read = [&](const std::function<void(const std::string&, int32_t, uint64_t)>& add) {
        auto want = [&](const std::string& at, int32_t line, int32_t column) {
          if (documents_.count(at) != 0 || !fs_.WasRead(at)) return;
          const uint64_t key = key_of(line, column);
          if (kept_range(at, key) == nullptr) add(at, line, key);
        };
        ForEachReportOn(path, [&](const ReportedDiagnostic& reported) {
          if (reported.shown) return;
          want(path, reported.line, reported.column);
          for (const ReportedDiagnostic::Related& related : reported.related)
            want(related.path.str().empty() ? path : related.path.str(), related.line,
                 related.column);
        });
      };
      // Counted first: a large script's places are held once, without the
      // room a growing list leaves.
      std::map<std::string, size_t> counts;
      places_to_read([&](const std::string& at, int32_t line, uint64_t) {
        counts[at] += line >= 1 ? 1 : 0;
      });
      for (const auto& [at, count] : counts) read_ranges[at].reserve(count);
      places_to_read([&](const std::string& at, int32_t line, uint64_t key) {
        if (line >= 1) read_ranges[at].push_back({key});
      });
      for (auto& [at, places] : read_ranges) {
        auto by_key = [](const PlacedRange& a, const PlacedRange& b) { return a.key < b.key; };
        std::sort(places.begin(), places.end(), by_key);
        places.erase(std::unique(places.begin(), places.end(),
                                 [](const auto& a, const auto& b) { return a.key == b.key; }),
                     places.end());
        if (!RangesFromRead(at, &places)) changed.insert(at);
      }
    }
    auto range_of = [&](const std::string& at, int32_t line, int32_t column) {
      const uint64_t key = key_of(line, column);
      if (const SourceRange* kept = kept_range(at, key)) return *kept;
      if (auto read = read_ranges.find(at); read != read_ranges.end()) {
        if (line < 1 || changed.count(at) != 0) return ElementRange(nullptr, line, column);
        auto& places = read->second;
        auto it = std::lower_bound(places.begin(), places.end(), key,
                                   [](const PlacedRange& a, uint64_t b) { return a.key < b; });
        if (it != places.end() && it->key == key)
          return SourceRange{{line, it->start}, {line, it->end}};
      }
      auto it = texts.find(at);
      if (it == texts.end()) it = texts.emplace(at, TextOf(at)).first;
      const SourceRange range = ElementRange(it->second.get(), line, column);
      if (it->second) found[at].push_back({key, range});
      return range;
    };
    FileDiagnostics file;
    file.path = path;
    uint64_t digest = 0;
    size_t count = 0;
    ForEachReportOn(path, [&](const ReportedDiagnostic& report) {
      const ReportedDiagnostic* reported = &report;
      ++count;
      if (!reported->shown) {
        reported->shown = true;
        reported->range = range_of(path, reported->line, reported->column);
        for (const ReportedDiagnostic::Related& related : reported->related) {
          const std::string& at = related.path.str().empty() ? path : related.path.str();
          related.range = range_of(at, related.line, related.column);
        }
      }
      digest = Digest(digest, reported->Shown(path));
    });
    for (auto& [at, list] : found) {
      auto by_key = [](const auto& a, const auto& b) { return a.first < b.first; };
      std::sort(list.begin(), list.end(), by_key);
      list.erase(std::unique(list.begin(), list.end(),
                             [](const auto& a, const auto& b) { return a.first == b.first; }),
                 list.end());
      auto& ranges = ranges_[at];
      const size_t middle = ranges.size();
      ranges.insert(ranges.end(), list.begin(), list.end());
      std::inplace_merge(ranges.begin(), ranges.begin() + static_cast<std::ptrdiff_t>(middle),
                         ranges.end(), by_key);
    }
    auto before = published_.find(path);
    if (count == 0) {
      if (before == published_.end()) continue;
      published_.erase(before);
      file.version = ++last_version_;
      result.push_back(std::move(file));
      continue;
    }
    if (before != published_.end() && before->second.digest == digest) continue;
    // Only a list that changed is copied out, and only when it is asked for.
    if (return_lists_) {
      file.diagnostics.reserve(count);
      ForEachReportOn(path, [&](const ReportedDiagnostic& reported) {
        file.diagnostics.push_back(reported.Shown(path));
      });
    }
    file.version = ++last_version_;
    Published& now = published_[path];
    now.digest = digest;
    now.version = file.version;
    // No text goes with the list: the texts of every file published at
    // once would be held together. The server asks for each (AnalysedText)
    // as it sends its list.
    result.push_back(std::move(file));
  }
  return result;
}

std::vector<FileDiagnostics> GameAnalysis::CurrentDiagnostics() const {
  std::vector<FileDiagnostics> all;
  for (const auto& [path, published] : published_) all.push_back(DiagnosticsOf(path));
  return all;
}

FileDiagnostics GameAnalysis::DiagnosticsOf(const std::string& path) const {
  FileDiagnostics file;
  file.path = path;
  auto published = published_.find(path);
  if (published == published_.end()) return file;
  file.version = published->second.version;
  VisitDiagnostics(path, [&](const SourceDiagnostic& d) { file.diagnostics.push_back(d); });
  return file;
}

void GameAnalysis::VisitDiagnostics(
    const std::string& path, const std::function<void(const SourceDiagnostic&)>& visit) const {
  if (published_.count(path) == 0) return;
  // Every report on a published file has been shown: its list is theirs.
  ForEachReportOn(path, [&](const ReportedDiagnostic& reported) {
    if (reported.shown) visit(reported.Shown(path));
  });
}

std::vector<ReportedDiagnostic> GameAnalysis::ReportedDiagnostics() const {
  std::vector<ReportedDiagnostic> all(run_diagnostics_.begin(), run_diagnostics_.end());
  for (const Script* script : order_) {
    all.insert(all.end(), script->search.begin(), script->search.end());
    all.insert(all.end(), script->compile.begin(), script->compile.end());
  }
  for (const auto& [path, script] : scripts_) {
    if (!script->started) all.insert(all.end(), script->search.begin(), script->search.end());
  }
  // The cross-script checks report in the order of the scripts' paths.
  for (const auto& [path, script] : scripts_) {
    all.insert(all.end(), script->cross.begin(), script->cross.end());
    all.insert(all.end(), script->unreached.begin(), script->unreached.end());
  }
  all.insert(all.end(), cross_diagnostics_.begin(), cross_diagnostics_.end());
  return all;
}

// Queries: every answer comes from the names the compile read (Mention),
// and where a text must be read (what is being typed), its elements are cut
// by the tokenizer's own rule (ElementEnd).

namespace {

// Builds a hover's text twice: with markdown's marks and without them.
struct HoverText {
  std::string markdown, plain;
  void Text(std::string_view text) {
    markdown += text;
    plain += text;
  }
  void Code(std::string_view text) {
    markdown += "`";
    markdown += text;
    markdown += "`";
    plain += text;
  }
  void Bold(std::string_view text) {
    markdown += "**";
    markdown += text;
    markdown += "**";
    plain += text;
  }
  void LineBreak() {
    markdown += "  \n";
    plain += "\n";
  }
  Hover Done(const SourceRange& range) { return Hover{markdown, range, plain}; }
};

bool IsBlank(char c) { return std::string_view(" \t\v\f\r").find(c) != std::string_view::npos; }

// `name` with its separators as '/' (a '\' that is the second byte of a
// double-byte character stays).
std::string SlashSeparated(std::string_view name) {
  std::string slashed(name);
  for (size_t i = 0; i < slashed.size(); ++i) {
    if (IsCp932LeadByte(static_cast<unsigned char>(slashed[i]))) {
      ++i;
    } else if (slashed[i] == '\\') {
      slashed[i] = '/';
    }
  }
  return slashed;
}

// A relative name with "." and ".." folded; "" when it climbs out of where
// it starts.
std::string FoldedRelative(std::string_view name) {
  std::string slashed = SlashSeparated(name);
  if (slashed.empty() || slashed[0] == '/') return "";
  int depth = 0;
  for (size_t start = 0; start <= slashed.size();) {
    size_t end = slashed.find('/', start);
    if (end == std::string::npos) end = slashed.size();
    const std::string_view part = std::string_view(slashed).substr(start, end - start);
    if (part == "..") {
      if (--depth < 0) return "";
    } else if (!part.empty() && part != ".") {
      ++depth;
    }
    start = end + 1;
  }
  std::string folded = LexicalAbsolutePath("/", slashed);
  return folded.size() > 1 ? folded.substr(1) : "";
}

constexpr size_t kFileCompletionLimit = 100;

}  // namespace

bool GameAnalysis::KeepsAllMentions(const Script& script) const {
  return !script.from_state || script.path == main_script_ || documents_.count(script.path) != 0;
}

namespace {
// Takes in no report: a compile made again only to read names again has
// nothing to tell that its last compile did not.
class IgnoredReports : public DiagnosticListener {
 public:
  void OnDiagnostic(const Diagnostic&) override {}
};
}  // namespace

std::vector<Mention> GameAnalysis::MentionsAgain(const Script& script, NameStore::Id name,
                                                 const std::function<bool(const Mention&)>& want) {
  if (!script.from_state || script.path == main_script_) return {};
  // Only the text that its last compile read: a file changed since is
  // compiled again by the next analysis, and shown against no text till then.
  if (documents_.count(script.path) == 0 && !CompiledBytes(script.path)) return {};
  DiscardSink sink;
  KCSystem sys(fs_, sink, ConsoleEncoding::kCp932);
  sys.options = options_;
  IgnoredReports reports;
  sys.log.set_listener(&reports);
  if (!AddScript(sys, script.path)) return {};
  Conversion conversion(sys);
  Reader::Collect collect{&script, name, want, {}};
  {
    Reader reader(*this, sys, conversion, &collect);
    conversion.set_observer(&reader);
    conversion.ConvertScriptFrom(script.start);
    conversion.set_observer(nullptr);
  }
  return std::move(collect.found);
}

void GameAnalysis::CheckGathered() {
  const std::tuple<int, int, uint64_t> key{full_runs_, script_compiles_, files_changed_};
  if (gathered_key_ == key) return;
  gathered_lines_.clear();
  gathered_.clear();
  gathered_key_ = key;
}

std::span<const Mention> GameAnalysis::MentionsOf(const Script& script, NameStore::Id name) {
  if (script.all_mentions) return script.mentions;
  if (!std::binary_search(script.mentioned.begin(), script.mentioned.end(), name)) return {};
  CheckGathered();
  auto entry = std::find_if(gathered_.begin(), gathered_.end(),
                            [&](const NameMentions& n) { return n.name == name; });
  if (entry == gathered_.end()) {
    if (gathered_.size() == kGathered) gathered_.pop_back();
    gathered_.push_front({name, {}});
    entry = gathered_.begin();
  }
  auto it = entry->scripts.find(&script);
  if (it == entry->scripts.end()) {
    it = entry->scripts
             .emplace(&script, MentionsAgain(script, name, [](const Mention&) { return true; }))
             .first;
  }
  return it->second;
}

const Mention* GameAnalysis::MentionAt(const std::string& path, SourcePosition position) {
  auto it = scripts_.find(path);
  if (it == scripts_.end()) return nullptr;
  const Script* script = it->second.get();
  const std::vector<Mention>* kept = &script->mentions;
  if (!script->all_mentions) {
    // The mentions that stand on the line, read again.
    CheckGathered();
    auto line = std::find_if(gathered_lines_.begin(), gathered_lines_.end(), [&](const LineMentions& l) {
      return l.script == script && l.line == position.line;
    });
    if (line == gathered_lines_.end()) {
      if (gathered_lines_.size() == kGathered) gathered_lines_.pop_back();
      const int32_t at = position.line;
      std::vector<Mention> on_line = MentionsAgain(*script, NameStore::kNone, [at](const Mention& m) {
        return m.start().line <= at && at <= m.end().line;
      });
      gathered_lines_.push_front({script, at, std::move(on_line)});
      line = gathered_lines_.begin();
    }
    kept = &line->mentions;
  }
  const std::vector<Mention>& mentions = *kept;
  auto before = [](const SourcePosition& a, const SourcePosition& b) {
    return std::tie(a.line, a.column) < std::tie(b.line, b.column);
  };
  // The last name that begins at or before the place (they stand in order
  // and never overlap).
  auto after = std::partition_point(mentions.begin(), mentions.end(), [&](const Mention& m) {
    return !before(position, m.start());
  });
  if (after == mentions.begin()) return nullptr;
  const Mention& mention = *(after - 1);
  return before(mention.end(), position) ? nullptr : &mention;
}

SourceLocation GameAnalysis::LocationOf(const std::string& path, const Mention& mention) {
  return {path, {mention.start(), mention.end()}};
}

std::vector<SourceLocation> GameAnalysis::Occurrences(NameEntry::Kind kind, std::string_view text,
                                                      bool definitions, bool uses) {
  std::vector<SourceLocation> found;
  // Every name a mention holds is interned: one that is not is held by none.
  const NameStore::Id name = names_.Find(text);
  if (name == NameStore::kNone) return found;
  if (!uses) {
    for (const Defined& defined : Definitions()) {
      const Mention& mention = *defined.mention;
      if (mention.kind() == kind && mention.definition() && mention.name == name)
        found.push_back(LocationOf(defined.script->path, mention));
    }
    return found;
  }
  for (const Script* script : order_) {
    for (const Mention& mention : MentionsOf(*script, name)) {
      if (mention.kind() != kind || mention.name != name) continue;
      if (mention.definition() ? definitions : uses) found.push_back(LocationOf(script->path, mention));
    }
  }
  return found;
}

const std::vector<GameAnalysis::Defined>& GameAnalysis::Definitions() {
  const std::tuple<uint64_t, int, int> key{names_version_, full_runs_, script_compiles_};
  if (definitions_key_ == key) return definitions_;
  definitions_.clear();
  for (const Script* script : order_) {
    for (const Mention& mention : script->mentions) {
      if (mention.definition() || mention.kind() == NameEntry::kFolder)
        definitions_.push_back({script, &mention});
    }
  }
  definitions_key_ = key;
  return definitions_;
}

std::vector<GameAnalysis::Found> GameAnalysis::Declarations(const std::string& path,
                                                            NameStore::Id name,
                                                            NameEntry::Kind kind) {
  std::vector<Found> found;
  for (const Defined& defined : Definitions()) {
    const Mention& mention = *defined.mention;
    if (mention.kind() == kind && mention.definition() && mention.name == name)
      found.push_back({defined.script->path, &mention});
  }
  // Those of the script itself come first.
  std::stable_partition(found.begin(), found.end(), [&](const Found& f) { return f.path == path; });
  return found;
}

std::string GameAnalysis::ScriptNamed(const std::string& name) const {
  // Only a script of the game: a name that climbs out of the game folder,
  // or names nothing the search found, is answered without reading a file.
  std::string relative = FoldedRelative(name);
  if (relative.empty() || game_directory_.empty()) return "";
  if (base_.Separator() != '/')
    std::replace(relative.begin(), relative.end(), '/', base_.Separator());
  const std::string target = game_directory_ + relative;
  return scripts_.count(target) != 0 ? target : "";
}

std::vector<SourceLocation> GameAnalysis::Definition(const std::string& path,
                                                     SourcePosition position) {
  const Mention* mention = MentionAt(path, position);
  if (mention == nullptr) return {};
  std::vector<SourceLocation> locations;
  switch (mention->kind()) {
    case NameEntry::kLabel:
    case NameEntry::kFunction:
      return Occurrences(mention->kind(), Name(mention->name), true, false);
    case NameEntry::kFile: {
      const std::string target = ScriptNamed(std::string(Name(mention->name)));
      if (target.empty()) return {};
      return {{target, {{1, 1}, {1, 1}}}};
    }
    case NameEntry::kVariable:
    case NameEntry::kAlias:
      for (const Found& found : Declarations(path, mention->name, mention->kind())) {
        locations.push_back(LocationOf(found.path, *found.mention));
      }
      return locations;
    case NameEntry::kCommand:
      // An alias leads to the new_command that made it.
      for (const Found& found : Declarations(path, mention->name, NameEntry::kAlias)) {
        locations.push_back(LocationOf(found.path, *found.mention));
      }
      return locations;
    default:
      return {};
  }
}

std::vector<SourceLocation> GameAnalysis::References(const std::string& path,
                                                     SourcePosition position,
                                                     bool include_definition) {
  const Mention* mention = MentionAt(path, position);
  if (mention == nullptr) return {};
  switch (mention->kind()) {
    case NameEntry::kLabel:
    case NameEntry::kFunction:
    case NameEntry::kVariable:
      return Occurrences(mention->kind(), Name(mention->name), include_definition, true);
    case NameEntry::kAlias:
    case NameEntry::kCommand: {
      // An alias: where it is made and every statement that begins with it.
      std::vector<SourceLocation> found;
      const NameStore::Id name = mention->name;
      for (const Script* script : order_) {
        for (const Mention& m : MentionsOf(*script, name)) {
          if (m.name != name) continue;
          if ((m.kind() == NameEntry::kAlias && include_definition) || m.kind() == NameEntry::kCommand)
            found.push_back(LocationOf(script->path, m));
        }
      }
      return found;
    }
    default:
      return {};
  }
}

bool GameAnalysis::Rename(const std::string& path, SourcePosition position,
                          const std::string& new_name, std::vector<FileEdits>* edits,
                          std::string* refusal) {
  const Mention* mention = MentionAt(path, position);
  if (mention == nullptr ||
      (mention->kind() != NameEntry::kLabel && mention->kind() != NameEntry::kFunction)) {
    *refusal = Own(kRefuseNothing);
    return false;
  }
  // The new name must read back as the one word it replaces, by the
  // tokenizer's rule: "ゲームオーバー" would be cut at the second byte of "ー".
  if (!ReadsAsWord(new_name) || EndsWithLeadByte(new_name)) {
    *refusal = Own(kRefuseBadName);
    refusal->replace(refusal->find("%s"), 2, new_name);
    return false;
  }
  if (new_name != Name(mention->name)) {
    // Two labels or functions of one name would become one.
    const std::vector<SourceLocation> taken = Occurrences(mention->kind(), new_name, true, false);
    if (!taken.empty()) {
      const std::string& at = taken[0].path;
      *refusal = Own(kRefuseTakenName);
      refusal->replace(refusal->find("%s"), 2, new_name);
      refusal->replace(refusal->find("%s"), 2,
                       at.starts_with(game_directory_) ? at.substr(game_directory_.size()) : at);
      refusal->replace(refusal->find("%d"), 2, std::to_string(taken[0].range.start.line));
      return false;
    }
  }
  edits->clear();
  for (const SourceLocation& location : Occurrences(mention->kind(), Name(mention->name), true, true)) {
    if (edits->empty() || edits->back().path != location.path)
      edits->push_back({location.path, {}});
    edits->back().edits.push_back({location.range, new_name});
  }
  return true;
}

std::string GameAnalysis::PlaceText(const std::string& path, SourcePosition position) const {
  std::string shown =
      path.starts_with(game_directory_) ? path.substr(game_directory_.size()) : path;
  return "`" + shown + "` " + std::to_string(position.line) + Own(kHoverLine);
}

namespace {

// PlaceText's parts: the path as code, then the line.
void AddPlace(HoverText* text, std::string_view place) {
  const size_t close = place.find('`', 1);
  text->Code(place.substr(1, close - 1));
  text->Text(place.substr(close + 1));
}

}  // namespace

std::optional<Hover> GameAnalysis::HoverAt(const std::string& path, SourcePosition position) {
  const Mention* mention = MentionAt(path, position);
  HoverText text;
  if (mention == nullptr) {
    // A command's own word, as the tokenizer cuts the line.
    std::shared_ptr<const DocumentText> document = TextOf(path);
    if (!document) return std::nullopt;
    const std::string_view line = LineText(*document, position.line);
    const size_t at = static_cast<size_t>(std::max(position.column, 1) - 1);
    for (size_t i = 0; i < line.size() && i <= at;) {
      if (IsBlank(line[i]) || line[i] == ';' || line[i] == ',' || line[i] == ':') {
        ++i;
        continue;
      }
      const size_t end = ElementEnd(line, i);
      if (at <= end) {
        const int32_t id = CommandIdOf(line.substr(i, end - i));
        if (id == CmdInvalid) return std::nullopt;
        text.Bold(kCommands[id].name);
        text.Text(" " + ParameterCounts(kCommands[id].count));
        text.LineBreak();
        text.Text(Own(IsSetupCommand(id) ? kHoverSetup : kHoverNotSetup));
        return text.Done({{position.line, static_cast<int32_t>(i) + 1},
                          {position.line, static_cast<int32_t>(end) + 1}});
      }
      i = end;
    }
    return std::nullopt;
  }
  const SourceRange range = LocationOf(path, *mention).range;
  switch (mention->kind()) {
    case NameEntry::kLabel:
    case NameEntry::kFunction: {
      text.Text(Own(mention->kind() == NameEntry::kLabel ? kHoverLabel : kHoverFunction) + " ");
      text.Code(Name(mention->name));
      text.Text("\n\n");
      const std::vector<SourceLocation> defined =
          Occurrences(mention->kind(), Name(mention->name), true, false);
      if (defined.empty()) text.Text(Own(kHoverNotDefined));
      for (const SourceLocation& at : defined) {
        text.Text(Own(kHoverDefinedAt));
        AddPlace(&text, PlaceText(at.path, at.range.start));
        text.LineBreak();
      }
      return text.Done(range);
    }
    case NameEntry::kVariable: {
      if (mention->definition()) {
        text.Code(std::string(kCommands[mention->command()].name) + " " + std::string(Name(mention->name)));
        text.Text("\n\n" + Own(kHoverDeclaredAt));
        AddPlace(&text, PlaceText(path, mention->start()));
        return text.Done(range);
      }
      const std::vector<Found> declared =
          Declarations(path, mention->name, NameEntry::kVariable);
      if (declared.empty()) return std::nullopt;
      for (const Found& found : declared) {
        text.Code(std::string(kCommands[found.mention->command()].name) + " " + std::string(Name(mention->name)));
        text.Text(" " + Own(kHoverDeclaredAt));
        AddPlace(&text, PlaceText(found.path, found.mention->start()));
        text.LineBreak();
      }
      return text.Done(range);
    }
    case NameEntry::kAlias:
    case NameEntry::kCommand: {
      const int32_t id = mention->command();
      if (id < 0 || id >= kCommandCount) return std::nullopt;  // an alias of no command
      if (Name(mention->name) != kCommands[id].name) {
        // An alias: the command it stands for and where it was made.
        text.Code(Name(mention->name));
        text.Text(": ");
        text.Code(kCommands[id].name);
        text.Text(" " + Own(kHoverAliasOf));
        const std::vector<Found> made = Declarations(path, mention->name, NameEntry::kAlias);
        if (!made.empty()) {
          text.Text(" (");
          AddPlace(&text, PlaceText(made[0].path, made[0].mention->start()));
          text.Text(")");
        }
        text.Text("\n\n");
      }
      text.Bold(kCommands[id].name);
      text.Text(" " + ParameterCounts(kCommands[id].count));
      text.LineBreak();
      text.Text(Own(IsSetupCommand(id) ? kHoverSetup : kHoverNotSetup));
      return text.Done(range);
    }
    default:
      return std::nullopt;
  }
}

namespace {

void AddItem(std::vector<CompletionItem>* items, std::set<std::string>* seen, std::string label,
             SymbolKind kind, std::string detail) {
  if (!seen->insert(label).second) return;
  items->push_back({std::move(label), kind, std::move(detail), "", ""});
}

}  // namespace

const std::vector<std::string>& GameAnalysis::FileNames(FileKind kind) {
  Names& cached = file_names_[kind];
  // The folder that the game sets for the kind, the last setting the run
  // compiled.
  std::string folder;
  if (kind != FileKind::kScript) {
    for (const Defined& defined : Definitions()) {
      const Mention& mention = *defined.mention;
      if (mention.kind() == NameEntry::kFolder && FolderKindOf(mention.command()) == kind)
        folder = Name(mention.name);
    }
    folder = SlashSeparated(folder);
    while (folder.starts_with("./")) folder.erase(0, 2);
    if (!folder.empty() && folder.back() != '/') folder += '/';
  }
  if (cached.full_run == full_runs_ && cached.folder == folder) return cached.names;
  cached = Names{full_runs_, folder, {}};
  auto add = [&](const std::string& path) {
    if (!path.starts_with(game_directory_)) return;
    std::string name = SlashSeparated(std::string_view(path).substr(game_directory_.size()));
    if (!name.starts_with(folder)) return;
    cached.names.push_back(name.substr(folder.size()));
  };
  switch (kind) {
    case FileKind::kScript:
      for (const auto& [path, script] : scripts_) add(path);
      break;
    case FileKind::kImage:
      for (const std::string& path : image_files_) add(path);
      break;
    case FileKind::kAudio:
      for (const std::string& path : audio_files_) add(path);
      break;
    case FileKind::kMovie:
      for (const std::string& path : movie_files_) add(path);
      break;
    default:
      break;
  }
  std::sort(cached.names.begin(), cached.names.end());
  return cached.names;
}

Completion GameAnalysis::CompleteAt(const std::string& path, SourcePosition position) {
  Completion completion;
  std::shared_ptr<const DocumentText> text = TextOf(path);
  if (!text) return completion;
  const std::string_view line = LineText(*text, position.line);
  const size_t at = std::min(static_cast<size_t>(std::max(position.column, 1) - 1), line.size());
  // The elements of the statement up to the position, as the tokenizer cuts
  // them: a ';' or a label's ':' begins a new statement.
  std::vector<std::string_view> elements;
  size_t commas = 0;
  size_t word_start = at;
  std::optional<size_t> string_start;
  for (size_t i = 0; i < at;) {
    const char c = line[i];
    if (IsBlank(c)) {
      ++i;
    } else if (c == ';' || c == ':') {
      elements.clear();
      commas = 0;
      ++i;
    } else if (c == ',') {
      ++commas;
      ++i;
    } else {
      const size_t end = ElementEnd(line, i);
      const bool quote = c == '"' || c == '\'';
      if (quote && (end > at || line[end - 1] != c || end == i + 1)) {
        string_start = i + 1;  // the position is inside the literal
        break;
      }
      if (end >= at) {
        if (!quote && ReadsAsWord(line.substr(i, 1))) word_start = i;  // the word being typed
        break;
      }
      if (end < line.size() && line[end] == ':' && ReadsAsWord(line.substr(i, end - i))) {
        elements.clear();  // a label
        commas = 0;
        i = end + 1;
        continue;
      }
      elements.push_back(line.substr(i, end - i));
      i = end;
    }
  }
  // The statement's command (or alias).
  int32_t id = CmdInvalid;
  std::vector<const Mention*> aliases;
  for (const Defined& defined : Definitions()) {
    if (defined.mention->kind() == NameEntry::kAlias && defined.mention->command() != CmdInvalid)
      aliases.push_back(defined.mention);
  }
  if (!elements.empty()) {
    id = CommandIdOf(elements[0]);
    for (const Mention* alias : aliases) {
      if (id == CmdInvalid && Name(alias->name) == elements[0]) id = alias->command();
    }
  }
  std::set<std::string> seen;
  std::vector<CompletionItem>& items = completion.items;
  if (string_start) {
    // The game's files of the command's kind whose names begin with what is
    // typed, as the game names them.
    const size_t start = *string_start;
    completion.replace = SourceRange{{position.line, static_cast<int32_t>(start) + 1},
                                     {position.line, static_cast<int32_t>(at) + 1}};
    const std::optional<FileKind> kind = FileParameterKind(id, commas);
    if (!kind) return completion;
    const std::string_view typed = line.substr(start, at - start);
    const std::vector<std::string>& names = FileNames(*kind);
    for (auto it = std::lower_bound(names.begin(), names.end(), typed);
         it != names.end() && it->starts_with(typed); ++it) {
      if (items.size() == kFileCompletionLimit) {
        completion.incomplete = true;
        break;
      }
      items.push_back({*it, SymbolKind::kFile, "", "", ""});
    }
    return completion;
  }
  completion.replace = SourceRange{{position.line, static_cast<int32_t>(word_start) + 1},
                                   {position.line, static_cast<int32_t>(at) + 1}};
  if (elements.empty()) {
    // The start of a statement: commands and aliases, only those of the
    // setup phase before create_window in main.txt.
    const bool setup =
        path == main_script_ && (create_window_line_ == 0 || position.line <= create_window_line_);
    for (int32_t command = 0; command < kCommandCount; ++command) {
      if (setup && !IsSetupCommand(command)) continue;
      AddItem(&items, &seen, std::string(kCommands[command].name), SymbolKind::kCommand,
              ParameterCounts(kCommands[command].count));
    }
    for (const Mention* alias : aliases) {
      if (setup && !IsSetupCommand(alias->command())) continue;
      AddItem(&items, &seen, std::string(Name(alias->name)), SymbolKind::kAlias,
              std::string(kCommands[alias->command()].name) + " " + Own(kHoverAliasOf));
    }
    return completion;
  }
  // Labels after goto, functions after function_call, variables elsewhere.
  const bool first_parameter = commas == 0 && elements.size() == 1;
  NameEntry::Kind wanted = NameEntry::kVariable;
  if (first_parameter && id == cmd::kGoto) wanted = NameEntry::kLabel;
  if (first_parameter && id == cmd::kFunctionCall) wanted = NameEntry::kFunction;
  const SymbolKind kind = wanted == NameEntry::kLabel      ? SymbolKind::kLabel
                          : wanted == NameEntry::kFunction ? SymbolKind::kFunction
                                                           : SymbolKind::kVariable;
  for (const Defined& defined : Definitions()) {
    const Mention& mention = *defined.mention;
    if (mention.kind() != wanted || !mention.definition()) continue;
    std::string detail = wanted == NameEntry::kVariable
                             ? std::string(kCommands[mention.command()].name)
                             : PlaceText(defined.script->path, mention.start());
    AddItem(&items, &seen, std::string(Name(mention.name)), kind, std::move(detail));
  }
  return completion;
}

std::vector<Symbol> GameAnalysis::DocumentSymbols(const std::string& path) {
  std::vector<Symbol> symbols;
  auto it = scripts_.find(path);
  if (it == scripts_.end()) return symbols;
  for (const Mention& mention : it->second->mentions) {
    if (!mention.definition() ||
        (mention.kind() != NameEntry::kLabel && mention.kind() != NameEntry::kFunction)) {
      continue;
    }
    const SourceLocation location = LocationOf(path, mention);
    symbols.push_back({std::string(Name(mention.name)),
                       mention.kind() == NameEntry::kLabel ? SymbolKind::kLabel : SymbolKind::kFunction,
                       "", location, location.range});
  }
  return symbols;
}

std::vector<Symbol> GameAnalysis::WorkspaceSymbols(const std::string& query) {
  const std::string wanted = Lower(query);
  std::vector<Symbol> symbols;
  for (const Defined& defined : Definitions()) {
    const Mention& mention = *defined.mention;
    if (mention.kind() != NameEntry::kLabel && mention.kind() != NameEntry::kFunction) continue;
    if (Lower(Name(mention.name)).find(wanted) == std::string::npos) continue;
    const SourceLocation location = LocationOf(defined.script->path, mention);
    symbols.push_back({std::string(Name(mention.name)),
                       mention.kind() == NameEntry::kLabel ? SymbolKind::kLabel : SymbolKind::kFunction,
                       PlaceText(defined.script->path, mention.start()), location, location.range});
  }
  return symbols;
}

}  // namespace kv
