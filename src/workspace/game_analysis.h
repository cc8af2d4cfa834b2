// The analysis of a game by the converter itself: the workspace folder that
// holds main.txt is converted as `KVConverter --check` converts it, over the
// files on disk with the editor's texts in their place, and what the
// conversion reports and reads becomes diagnostics, definitions, references,
// hovers, completions and symbols.
//
// After the first conversion an edit costs one script's compile: each
// script's compile depends only on its text and on the state the run stood
// in where it began (CarriedState: the aliases made and variables declared
// before it, the errors counted towards the error limit), which is kept per
// script. An edited script is compiled
// alone from its state; the scripts after it only when the state it ends in
// differs from theirs. main.txt is compiled alone too, from its setup phase,
// when that phase ended in it before and does again; when the state it
// hands on changes only by the variables it declares, or only by the
// aliases it makes, the scripts after it take the change into their states,
// and those whose compile it may change compile again; when it changes otherwise, the whole game converts again.
// The cross-script checks run again over the names kept per script.
// Anything else (a file added or removed, a change to whether a script's
// comments end) converts the whole game again.
#pragma once

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <compare>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "context/kc_system.h"
#include "context/lint_checks.h"
#include "context/name_uses.h"
#include "driver/conversion.h"
#include "language/command_table.h"
#include "language/name_index.h"
#include "workspace/analysis.h"
#include "workspace/overlay_file_system.h"

namespace kv {

// A text never changed once made, shared by its copies rather than copied:
// a count of its holders, its size and its bytes in one block, one pointer
// wide. A large game's findings say the same few things (a missing file's
// name) by the hundred thousand.
class SharedText {
 public:
  SharedText() = default;
  SharedText(std::string_view text);
  SharedText(const SharedText& other) : node_(other.node_) {
    if (node_ != nullptr) node_->holders.fetch_add(1, std::memory_order_relaxed);
  }
  SharedText(SharedText&& other) noexcept : node_(std::exchange(other.node_, nullptr)) {}
  SharedText& operator=(SharedText other) noexcept {
    std::swap(node_, other.node_);
    return *this;
  }
  ~SharedText();

  std::string_view view() const {
    return node_ == nullptr ? std::string_view()
                            : std::string_view(reinterpret_cast<const char*>(node_ + 1), node_->size);
  }
  operator std::string_view() const { return view(); }
  bool empty() const { return node_ == nullptr; }
  size_t size() const { return view().size(); }
  // Whether the two share one block (and so one text).
  bool SameBlock(const SharedText& other) const { return node_ == other.node_; }

  friend bool operator==(const SharedText& a, const SharedText& b) {
    return a.node_ == b.node_ || a.view() == b.view();
  }

 private:
  struct Node {
    std::atomic<uint32_t> holders;
    uint32_t size;  // the bytes follow
  };
  Node* node_ = nullptr;  // null for ""
};

// The check that made a report, in one byte: the index of its fixed name,
// or none. It reads as the name ("" for none), and orders as the names do.
class CheckTag {
 public:
  CheckTag() = default;
  CheckTag(Check check) : index_(static_cast<uint8_t>(check)) {}
  // The check so named; none for a name that no check has.
  CheckTag(std::string_view name) {
    if (Check check; FindCheck(name, &check)) index_ = static_cast<uint8_t>(check);
  }

  std::string_view view() const {
    return index_ < kNone ? CheckName(static_cast<Check>(index_)) : std::string_view();
  }
  operator std::string_view() const { return view(); }

  friend bool operator==(CheckTag a, CheckTag b) { return a.index_ == b.index_; }
  friend bool operator==(CheckTag a, std::string_view b) { return a.view() == b; }
  friend std::strong_ordering operator<=>(CheckTag a, CheckTag b) { return a.view().compare(b.view()) <=> 0; }

 private:
  static constexpr uint8_t kNone = static_cast<uint8_t>(Check::kCount);
  uint8_t index_ = kNone;
};

// A diagnostic as the converter reported it, its notes folded in.
// A large game's reports are mostly on a few files: their paths are shared,
// the name of the check is one of the fixed names, and the related places,
// which most reports lack, are held apart.
struct ReportedDiagnostic {
  struct Related {
    ScriptPath path;
    int32_t line = 0;
    int32_t column = 0;
    std::string message;  // CP932
    // Its range as the editor is shown it, once worked out (see `shown`).
    mutable SourceRange range = {};
  };
  // A list of related places that costs one pointer while it is empty.
  class RelatedList {
   public:
    RelatedList() = default;
    RelatedList(const RelatedList& other)
        : list_(other.list_ ? std::make_unique<std::vector<Related>>(*other.list_) : nullptr) {}
    RelatedList(RelatedList&&) noexcept = default;
    RelatedList& operator=(RelatedList other) noexcept {
      list_ = std::move(other.list_);
      return *this;
    }
    size_t size() const { return list_ ? list_->size() : 0; }
    bool empty() const { return size() == 0; }
    const Related& operator[](size_t i) const { return (*list_)[i]; }
    const Related* begin() const { return list_ ? list_->data() : nullptr; }
    const Related* end() const { return list_ ? list_->data() + list_->size() : nullptr; }
    void push_back(Related related) {
      if (!list_) list_ = std::make_unique<std::vector<Related>>();
      list_->push_back(std::move(related));
    }

   private:
    std::unique_ptr<std::vector<Related>> list_;
  };

  ScriptPath path;
  SharedText message;  // CP932
  RelatedList related;
  int32_t line = 0;
  int32_t column = 0;
  // The ranges of the report and of its related places as the editor is
  // shown them have been worked out (a cache kept beside the report's own
  // fields; the rest of what is shown is the report's own words, not held
  // twice).
  mutable SourceRange range = {};
  Diagnostic::Kind kind = Diagnostic::Kind::kError;
  CheckTag check;
  mutable bool shown = false;
  // What the editor is shown of it, from the ranges worked out; `path` is
  // the file it stands on (main.txt for a report on no file).
  SourceDiagnostic Shown(const std::string& path) const;
};

// The reports of a list, in the order they came, in blocks that never move:
// a large script's findings number in the hundreds of thousands, and a list
// that grew by copying itself into one twice as large would hold them one
// and a half times over while it grows, and twice while it is trimmed.
// Each new block holds as many as the list already does (up to kMostPerBlock),
// so that a short list wastes as little as a vector would; an empty list
// holds nothing.
class ReportList {
 public:
  static constexpr size_t kMostPerBlock = 4096;

  template <bool kConst>
  class Iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = ReportedDiagnostic;
    using difference_type = std::ptrdiff_t;
    using pointer = std::conditional_t<kConst, const ReportedDiagnostic*, ReportedDiagnostic*>;
    using reference = std::conditional_t<kConst, const ReportedDiagnostic&, ReportedDiagnostic&>;
    using Blocks = std::conditional_t<kConst, const std::vector<std::vector<ReportedDiagnostic>>,
                                      std::vector<std::vector<ReportedDiagnostic>>>;

    Iterator() = default;
    Iterator(Blocks* blocks, size_t block) : blocks_(blocks), block_(block) {}
    reference operator*() const { return (*blocks_)[block_][index_]; }
    pointer operator->() const { return &**this; }
    Iterator& operator++() {
      if (++index_ == (*blocks_)[block_].size()) {
        ++block_;
        index_ = 0;
      }
      return *this;
    }
    Iterator operator++(int) {
      Iterator was = *this;
      ++*this;
      return was;
    }
    friend bool operator==(const Iterator& a, const Iterator& b) {
      return a.block_ == b.block_ && a.index_ == b.index_;
    }

   private:
    Blocks* blocks_ = nullptr;
    size_t block_ = 0;  // blocks are never empty: the end is the block past the last
    size_t index_ = 0;
  };
  using iterator = Iterator<false>;
  using const_iterator = Iterator<true>;

  ReportList() = default;
  ReportList(ReportList&& other) noexcept
      : blocks_(std::move(other.blocks_)), size_(std::exchange(other.size_, 0)) {
    other.blocks_.clear();
  }
  ReportList& operator=(ReportList&& other) noexcept {
    if (this != &other) {
      blocks_ = std::move(other.blocks_);
      other.blocks_.clear();
      size_ = std::exchange(other.size_, 0);
    }
    return *this;
  }

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  iterator begin() { return {&blocks_, 0}; }
  iterator end() { return {&blocks_, blocks_.size()}; }
  const_iterator begin() const { return {&blocks_, 0}; }
  const_iterator end() const { return {&blocks_, blocks_.size()}; }
  ReportedDiagnostic& back() { return blocks_.back().back(); }

  // A new report at the end; it stays where it is while the list grows.
  ReportedDiagnostic& emplace_back() {
    if (blocks_.empty() || blocks_.back().size() == blocks_.back().capacity()) {
      blocks_.emplace_back().reserve(std::clamp<size_t>(size_, 1, kMostPerBlock));
    }
    ++size_;
    return blocks_.back().emplace_back();
  }
  void push_back(ReportedDiagnostic report) { emplace_back() = std::move(report); }
  void clear() {
    blocks_.clear();
    size_ = 0;
  }
  // Gives back the room the last block keeps for reports to come (its
  // reports move).
  void shrink_to_fit() {
    if (!blocks_.empty()) blocks_.back().shrink_to_fit();
    blocks_.shrink_to_fit();
  }

 private:
  std::vector<std::vector<ReportedDiagnostic>> blocks_;
  size_t size_ = 0;
};

// Every name the analysis has read, once, numbered in the order they came:
// a large game uses few names many times, and a number is half a pointer.
// The bytes of the names stand in blocks that never move, so that a name's
// view stays valid while more are added; equal names have equal numbers.
// Names are never taken away.
class NameStore {
 public:
  using Id = uint32_t;
  static constexpr Id kNone = ~Id{0};

  NameStore() = default;
  NameStore(const NameStore&) = delete;
  NameStore& operator=(const NameStore&) = delete;

  // The number of the name, given it now when it has none.
  Id Intern(std::string_view name);
  // The number of the name, or kNone when it was never interned.
  Id Find(std::string_view name) const;
  std::string_view View(Id id) const {
    uint32_t size;
    std::memcpy(&size, starts_[id], sizeof size);
    return {starts_[id] + sizeof size, size};
  }
  size_t size() const { return starts_.size(); }
  // The name as it is kept: its 4-byte size, then its bytes (as a
  // DefinitionName reads them); valid while the store lives.
  const char* Stored(Id id) const { return starts_[id]; }
  // Gives back the room kept for names to come.
  void shrink_to_fit() {
    blocks_.shrink_to_fit();
    starts_.shrink_to_fit();
  }

 private:
  static constexpr size_t kBlock = size_t{1} << 16;
  // The slot of the table that holds the name, or the empty one it would
  // go into.
  size_t SlotOf(std::string_view name, uint32_t hash) const;
  static uint32_t HashOf(std::string_view name) {
    return static_cast<uint32_t>(std::hash<std::string_view>{}(name));
  }
  // No hash is kept by name (a game holds millions of names): growing works
  // them out again from the bytes, and a probe that reaches another name
  // mostly finds that its size differs.
  void Grow();

  std::vector<std::unique_ptr<char[]>> blocks_;
  char* free_ = nullptr;  // in the block being filled
  size_t left_ = 0;
  std::vector<const char*> starts_;  // by number: the name's size, then its bytes
  std::vector<Id> slots_;            // open addressing: a number + 1, 0 for none
};

// Values by the numbers of interned names: an open-addressed table (linear
// probing) of the numbers held, beside their values.
template <typename Value>
class IdTable {
 public:
  const Value* Find(NameStore::Id id) const {
    if (keys_.empty()) return nullptr;
    for (size_t slot = Home(id);; slot = (slot + 1) & (keys_.size() - 1)) {
      if (keys_[slot] == 0) return nullptr;
      if (keys_[slot] == id + 1) return &values_[slot];
    }
  }
  Value* Find(NameStore::Id id) { return const_cast<Value*>(std::as_const(*this).Find(id)); }
  // The id's value, a default one added when it has none.
  Value& operator[](NameStore::Id id) {
    if (4 * (size_ + 1) > 3 * keys_.size()) Grow();
    size_t slot = Home(id);
    while (keys_[slot] != 0 && keys_[slot] != id + 1) slot = (slot + 1) & (keys_.size() - 1);
    if (keys_[slot] == 0) {
      keys_[slot] = id + 1;
      ++size_;
    }
    return values_[slot];
  }
  void Erase(NameStore::Id id) {
    if (keys_.empty()) return;
    const size_t mask = keys_.size() - 1;
    size_t hole = Home(id);
    while (keys_[hole] != id + 1) {
      if (keys_[hole] == 0) return;
      hole = (hole + 1) & mask;
    }
    // The entries after it that a probe would no more reach across the hole
    // move into it.
    for (size_t slot = (hole + 1) & mask; keys_[slot] != 0; slot = (slot + 1) & mask) {
      const size_t home = Home(keys_[slot] - 1);
      if (hole <= slot ? hole < home && home <= slot : hole < home || home <= slot) continue;
      keys_[hole] = keys_[slot];
      values_[hole] = std::move(values_[slot]);
      hole = slot;
    }
    keys_[hole] = 0;
    values_[hole] = Value();
    --size_;
  }
  template <typename Visit>
  void ForEach(Visit&& visit) const {
    for (size_t i = 0; i < keys_.size(); ++i) {
      if (keys_[i] != 0) visit(keys_[i] - 1, values_[i]);
    }
  }
  size_t size() const { return size_; }
  void clear() {
    keys_.clear();
    values_.clear();
    size_ = 0;
  }

 private:
  size_t Home(NameStore::Id id) const {
    return static_cast<size_t>((uint64_t{id} * 0x9E3779B97F4A7C15u) >> shift_);
  }
  void Grow() {
    std::vector<NameStore::Id> keys = std::move(keys_);
    std::vector<Value> values = std::move(values_);
    const size_t capacity = std::max<size_t>(16, 2 * keys.size());
    keys_.assign(capacity, 0);
    values_.clear();
    values_.resize(capacity);
    shift_ = 64 - std::countr_zero(capacity);
    for (size_t i = 0; i < keys.size(); ++i) {
      if (keys[i] == 0) continue;
      size_t slot = Home(keys[i] - 1);
      while (keys_[slot] != 0) slot = (slot + 1) & (capacity - 1);
      keys_[slot] = keys[i];
      values_[slot] = std::move(values[i]);
    }
  }

  std::vector<NameStore::Id> keys_;  // an id + 1, 0 for none
  std::vector<Value> values_;
  size_t size_ = 0;
  int shift_ = 64;
};

// A name that a statement defines or uses, as the compile read it (see
// language/name_index.h), where it stands: columns are CP932 byte columns of
// the author's file, `end` one past its last byte.
// A large game holds millions: the fields are packed into 16 bytes. A start
// column beyond kMaxColumn is kept as kMaxColumn; an element ending on its
// own line is kept by its width from the column kept, up to kMaxEnd bytes;
// one spanning lines ends, as far as the places kept tell, at most
// kMaxEndLines lines further, at a column of at most kMaxEnd.
struct Mention {
  static constexpr int32_t kMaxColumn = (1 << 24) - 1;
  static constexpr int32_t kMaxEndLines = (1 << 8) - 1;
  static constexpr int32_t kMaxEnd = (1 << 17) - 1;

  Mention(NameEntry::Kind kind, bool definition, int32_t command, NameStore::Id name,
          SourcePosition start, SourcePosition end)
      : name(name),
        line_(start.line),
        column_(static_cast<uint32_t>(std::clamp(start.column, 0, kMaxColumn))),
        end_lines_(static_cast<uint32_t>(std::clamp(end.line - start.line, 0, kMaxEndLines))),
        kind_(kind),
        definition_(definition),
        command_(std::clamp(command, -1024, 1023)),
        end_(static_cast<uint32_t>(std::clamp(
            end_lines_ == 0 ? end.column - static_cast<int32_t>(column_) : end.column, 0,
            kMaxEnd))) {}

  NameStore::Id name;  // CP932 (GameAnalysis::names_)
  SourcePosition start() const { return {line_, static_cast<int32_t>(column_)}; }
  SourcePosition end() const {
    return {line_ + static_cast<int32_t>(end_lines_),
            static_cast<int32_t>(end_lines_ == 0 ? column_ + end_ : end_)};
  }
  NameEntry::Kind kind() const { return static_cast<NameEntry::Kind>(kind_); }
  bool definition() const { return definition_ != 0; }
  int32_t command() const { return command_; }  // as NameEntry::command

 private:
  int32_t line_;
  uint32_t column_ : 24;
  uint32_t end_lines_ : 8;
  uint32_t kind_ : 3;
  uint32_t definition_ : 1;
  int32_t command_ : 11;
  uint32_t end_ : 17;  // the width on one line, else the end's column
};
static_assert(sizeof(Mention) <= 16);
static_assert(CmdInvalid <= 1023);

class GameAnalysis : public Analysis {
 public:
  explicit GameAnalysis(FileSystem& fs);
  ~GameAnalysis() override;

  AnalysisFeatures Features() const override;
  void Configure(const WorkspaceSettings& settings) override;
  void SetDocument(const std::string& path, std::shared_ptr<const DocumentText> text) override;
  void ClearDocument(const std::string& path) override;
  void FilesChanged(const std::vector<FileChange>& changes) override;
  std::vector<FileDiagnostics> Analyse() override;

  std::vector<SourceLocation> Definition(const std::string& path, SourcePosition position) override;
  std::vector<SourceLocation> References(const std::string& path, SourcePosition position,
                                         bool include_definition) override;
  bool Rename(const std::string& path, SourcePosition position, const std::string& new_name,
              std::vector<FileEdits>* edits, std::string* refusal) override;
  std::optional<Hover> HoverAt(const std::string& path, SourcePosition position) override;
  Completion CompleteAt(const std::string& path, SourcePosition position) override;
  std::vector<Symbol> DocumentSymbols(const std::string& path) override;
  std::vector<Symbol> WorkspaceSymbols(const std::string& query) override;
  std::shared_ptr<const DocumentText> AnalysedText(const std::string& path) override;
  std::shared_ptr<const std::string> AnalysedCp932(const std::string& path) override;
  uint64_t AnalysedCp932Size(const std::string& path) override;
  bool ReadAnalysedCp932(const std::string& path,
                         const std::function<void(std::string_view)>& take) override;
  bool AnalysedFile(const std::string& path) const override;
  bool NeedsAnalysis() const override { return changed_on_disk_; }
  // (route_map_analysis.cpp)
  std::string RouteMapJson() override;

  // The game folder (ending with a separator), "" when no folder holds
  // main.txt.
  const std::string& game_directory() const { return game_directory_; }
  // How many whole conversions and single-script compiles have run.
  int full_runs() const { return full_runs_; }
  int script_compiles() const { return script_compiles_; }
  // The diagnostics of every file that has any, as the analyses so far
  // returned them (without their texts).
  std::vector<FileDiagnostics> CurrentDiagnostics() const;
  bool KeepsDiagnostics() const override { return true; }
  FileDiagnostics DiagnosticsOf(const std::string& path) const override;
  void VisitDiagnostics(const std::string& path,
                        const std::function<void(const SourceDiagnostic&)>& visit) const override;
  void ReturnNoLists() override { return_lists_ = false; }
  // How many bytes of a large script are read at once to place its reports.
  void set_read_piece(size_t bytes) { read_piece_ = bytes; }
  // Everything the last analysis reported, in report order per script.
  std::vector<ReportedDiagnostic> ReportedDiagnostics() const;

  // What is kept of a script between analyses.
  struct Script;

 private:
  class Collector;
  class Reader;

  void FullRun();
  // When the editor does not watch the game's files: the stamps of every
  // file the last whole run found and of the folders that hold them, taken
  // after it; and the changes since, as FilesChanged takes them (a folder
  // whose entries changed: a whole run).
  void StampGame();
  void NoticeDiskChanges();
  // Compiles the changed script alone, and the ones after it whose start
  // state changes; false when only a whole run can tell.
  bool Recompile(const std::string& path);
  // Compiles the script alone, and the ones after it whose start state
  // changes. After main.txt, when what it hands on differs only by the
  // variables it declares, the scripts after it take the change into their
  // states instead, and those whose compile it may change are put in
  // `asking`.
  bool CompileOnward(const std::string& path, std::vector<Script*>* asking);
  // Makes the variables that `end` declares and the start of the script at
  // `from` does not, and those that start declares and `end` does not, so
  // in the states of that script and every one after it, and puts those
  // that ask about or declare one of them in `asking`; false (nothing
  // changed) when `end` differs otherwise, or not at all.
  bool HandOnDeclared(const CarriedState& end, size_t from, std::vector<Script*>* asking);
  // The same for the aliases: makes those that `end` makes and the start of
  // the script at `from` does not so, and takes away those it makes no
  // more, in the states of that script and every one after it, and puts
  // those that look up such a name, read every alias or make one in
  // `asking`; false (nothing changed) when `end` differs otherwise, or not
  // at all.
  bool HandOnAliases(const CarriedState& end, size_t from, std::vector<Script*>* asking);
  // The cross-script checks (LintGame) over the names and files kept of the
  // whole game, as the converter makes them after its last script.
  // With `whole`, over every script; otherwise again over the scripts
  // whose findings the scripts compiled again (recompiled_) may change.
  void CheckCrossReferences(bool whole);
  // The diagnostics of each file whose diagnostics changed: of every file
  // with `everything`, otherwise of those the scripts in touched_ report on.
  std::vector<FileDiagnostics> Publish(bool everything);
  // The file a report is shown on: its own, or main.txt for none.
  const std::string& PathOf(const ReportedDiagnostic& d) const;
  // Visits every report on the file, in the order of the run (a large
  // script's reports are never listed apart).
  void ForEachReportOn(const std::string& path,
                       const std::function<void(const ReportedDiagnostic&)>& visit) const;
  // The files other than its own that a script's reports stand on.
  std::set<std::string> ForeignPaths(const Script& script) const;

  // The editor's text of `path`, or the file's as the last compile of it
  // read it (the disk's only for a file no compile read; null for one that
  // has changed since).
  std::shared_ptr<const DocumentText> TextOf(const std::string& path);
  // The bytes of `path` as the last compile of it read them, read again;
  // null when it has changed since (it is then compiled again) or no
  // compile read it.
  std::shared_ptr<const std::string> CompiledBytes(const std::string& path);
  // What a read of a file that a compile read finds changed tells: it is
  // compiled again.
  void FoundChanged(const std::string& path);
  // A place on a file (`key`: its line and column) and the columns its
  // range spans on that line.
  struct PlacedRange {
    uint64_t key = 0;
    int32_t start = 0;
    int32_t end = 0;
  };
  // The ranges of `places` (ordered by key, each once, lines from 1) on a
  // file a compile read as CP932, from that file read again a piece at a
  // time: only the lines they stand on are kept. False when the file has
  // changed since.
  bool RangesFromRead(const std::string& path, std::vector<PlacedRange>* places);
  // A place as the converter gives it (its columns count the file's bytes,
  // UTF-8 ones for a UTF-8 game) as a place in CP932 bytes.
  SourcePosition Cp932Position(const DocumentText& text, int32_t line, int32_t column) const;
  // What an editor marks for a report at a place: the element that begins
  // there, the whole line when there is no column, the file's start when
  // there is no line.
  SourceRange ElementRange(const DocumentText* text, int32_t line, int32_t column) const;

  // The name that stands at (or ends at) a place of a script, from the
  // index the compile made of it.
  const Mention* MentionAt(const std::string& path, SourcePosition position);
  // Whether the compile of a script keeps all its mentions: an open one,
  // main.txt, and one that cannot be compiled alone do.
  bool KeepsAllMentions(const Script& script) const;
  // Compiles a script again alone from the state it began in, as its last
  // compile did, and gives the mentions it reads that `want` accepts, in
  // the order they stand. Nothing else of the analysis changes: its
  // reports, states and counts are those of the last compile. Only those
  // of `name`, unless it is NameStore::kNone.
  std::vector<Mention> MentionsAgain(const Script& script, NameStore::Id name,
                                     const std::function<bool(const Mention&)>& want);
  // The mentions of a name in a script: all its mentions for one that keeps
  // them (the caller looks for the name), otherwise those of the name,
  // compiled again when the script may hold it and kept in gathered_.
  std::span<const Mention> MentionsOf(const Script& script, NameStore::Id name);
  static SourceLocation LocationOf(const std::string& path, const Mention& mention);
  // Every definition (with `definitions`) and use (with `uses`) of a name
  // of a kind, in the order of the run.
  std::vector<SourceLocation> Occurrences(NameEntry::Kind kind, std::string_view name,
                                          bool definitions, bool uses);
  struct Found {
    std::string path;
    const Mention* mention;
  };
  // The definitions of a name of a kind (a variable's declarations, an
  // alias's new_command): those of `path` first.
  std::vector<Found> Declarations(const std::string& path, NameStore::Id name,
                                  NameEntry::Kind kind);
  // "`scenes/a.txt` 12 行目": a place for a hover, from the game folder.
  std::string PlaceText(const std::string& path, SourcePosition position) const;
  // The script that a script_load or script_change names, among the game's
  // scripts only; "" when it names none of them.
  std::string ScriptNamed(const std::string& name) const;
  // The definitions, folder settings and alias definitions of the whole
  // game in the order of the run, gathered once after each compile: a
  // query that looks for them does not read every name of the game.
  struct Defined {
    const Script* script;
    const Mention* mention;
  };
  const std::vector<Defined>& Definitions();
  // The names a string of a command of `kind` may hold, sorted, as the
  // game names them: relative to the folder that image_path, sound_path or
  // movie_path sets, scripts from the game folder. Made once per whole run.
  const std::vector<std::string>& FileNames(FileKind kind);

  FileSystem& base_;
  OverlayFileSystem fs_;
  WorkspaceSettings settings_;
  std::string game_directory_;
  std::map<std::string, std::shared_ptr<const DocumentText>> documents_;

  bool analysed_ = false;
  bool analysing_ = false;
  // A file compiled by the last analysis has changed on disk since.
  bool changed_on_disk_ = false;
  bool full_run_needed_ = true;
  std::vector<std::string> changed_;  // scripts edited since the last analysis
  // The ranges of the elements at the places reports stood on, per file, by
  // line and column: worked out from the file's text alone, they are kept
  // until the file changes (a whole run finds most reports again). Only
  // those worked out from a converted text (an open document, a UTF-8
  // game's file): the bytes a compile read give theirs again cheaply.
  // Each file's sorted by line and column.
  std::unordered_map<std::string, std::vector<std::pair<uint64_t, SourceRange>>> ranges_;
  int full_runs_ = 0;
  int script_compiles_ = 0;
  // A compile read the aliases where no script was current: a change to
  // them takes a whole run.
  bool aliases_read_elsewhere_ = false;

  RunOptions options_;                                      // as the last whole run settled them
  std::map<std::string, std::unique_ptr<Script>> scripts_;  // by path
  std::vector<Script*> order_;  // the scripts in the order the run compiled them
  Script* lookup_kept_ = nullptr;  // whose start keeps its declared names' table
  ReportList run_diagnostics_;    // reported outside any script's compile
  ReportList cross_diagnostics_;  // of the cross-script checks, on no script
  // The scripts that hold a name in one of the indexes below, in the order
  // they came: one in place, more in a list of their own (the names of a
  // large game are mostly held by one script each).
  class Holders {
   public:
    Holders() = default;
    Holders(Holders&& other) noexcept : one_(std::exchange(other.one_, nullptr)) {}
    Holders& operator=(Holders&& other) noexcept {
      std::swap(one_, other.one_);
      return *this;
    }
    ~Holders() { delete Many(); }
    std::span<Script* const> scripts() const {
      if (const std::vector<Script*>* many = Many()) return *many;
      return one_ == nullptr ? std::span<Script* const>() : std::span<Script* const>(&one_, 1);
    }
    bool empty() const { return one_ == nullptr; }
    void Add(Script* script);  // unless it is there
    void Remove(Script* script);

   private:
    std::vector<Script*>* Many() const {
      const uintptr_t bits = reinterpret_cast<uintptr_t>(one_);
      return (bits & 1) != 0 ? reinterpret_cast<std::vector<Script*>*>(bits - 1) : nullptr;
    }
    Script* one_ = nullptr;  // the one script, or their list with the low bit set
  };
  using NameIndex = IdTable<Holders>;  // by interned name
  // The scripts that define each label and function, and those whose
  // records that the checks read of them (Script::defined) first define a
  // label, declare a variable or make a name so named.
  NameIndex label_definers_, function_definers_, first_labelers_, declarers_, makers_;
  // The index's holders of a name, or null.
  const Holders* HoldersOf(const NameIndex& index, std::string_view name) const {
    const NameStore::Id id = names_.Find(name);
    return id == NameStore::kNone ? nullptr : index.Find(id);
  }
  // How many scripts go to, call or name as a file each name (by the
  // record's kind).
  std::map<std::pair<int, std::string>, int> reach_counts_;
  // Moves name-use records of a whole run to the scripts they stand in,
  // each script's in a list of its exact size when it has one stretch of
  // them, and empties `records`.
  void KeepNameUses(NameUseLog* records);
  // Adds a script's definitions and reaches to the indexes above, or takes
  // them away.
  void Index(Script* script, bool add);
  // The scripts compiled again by this analysis, and those whose reports
  // changed since the last Publish.
  std::vector<Script*> recompiled_;
  std::set<Script*> touched_;
  // For each file, the scripts that report on it besides its own.
  std::map<std::string, std::set<Script*>> foreign_;
  // The media files the search found (absolute paths), by kind.
  std::vector<std::string> image_files_, audio_files_, movie_files_;
  std::string main_script_;
  int32_t create_window_line_ = 0;  // in main.txt; 0: none was compiled
  // What the last analyses returned per file: a digest of the diagnostics
  // and their version, which changes when the digest does. The lists
  // themselves are not kept twice: they are the reports' `shown`.
  struct Published {
    uint64_t digest = 0;
    uint64_t version = 0;
  };
  std::map<std::string, Published> published_;
  bool return_lists_ = true;  // Analyse returns the changed files' lists
  size_t read_piece_ = size_t{1} << 20;
  struct Stamp {
    std::string stamp;
    bool directory = false;
  };
  std::map<std::string, Stamp> stamps_;
  uint64_t last_version_ = 0;
  // FileNames, by kind, and the whole run and folder they were made for.
  struct Names {
    int full_run = -1;
    std::string folder;
    std::vector<std::string> names;
  };
  std::map<FileKind, Names> file_names_;
  // Counts the compiles that made names (each Reader); definitions_ were
  // gathered at this count and these numbers of runs and compiles (a whole
  // run drops every script, even one that compiles nothing).
  uint64_t names_version_ = 1;
  std::tuple<uint64_t, int, int> definitions_key_{0, -1, -1};
  std::vector<Defined> definitions_;
  // What MentionsAgain read for the last queries, while no compile has run
  // since nor a file changed (the whole runs, compiles and changes counted
  // when it was read): the mentions of a line of a script, for MentionAt,
  // and those of a name in each script that keeps not all its own, for the
  // queries of the whole game (a rename after a search for references reads
  // nothing again).
  // The newest first, kGathered of each at most.
  static constexpr size_t kGathered = 4;
  struct LineMentions {
    const Script* script;
    int32_t line;
    std::vector<Mention> mentions;
  };
  struct NameMentions {
    NameStore::Id name;
    std::map<const Script*, std::vector<Mention>> scripts;
  };
  std::deque<LineMentions> gathered_lines_;
  std::deque<NameMentions> gathered_;
  std::tuple<int, int, uint64_t> gathered_key_{-1, -1, 0};
  uint64_t files_changed_ = 0;  // how many times FilesChanged was told of a change
  // Empties what is gathered when a compile has run or a file changed since.
  void CheckGathered();
  // Every name the compiles have read, once.
  NameStore names_;
  std::string_view Name(NameStore::Id id) const { return names_.View(id); }
};

}  // namespace kv
