// The names that a --check run keeps of each script for the checks that look
// at the whole game (NameUse), and the store that keeps them (NameUseLog).
// A large script makes millions of these, so each record is small and the
// store grows in blocks that are never moved: growing never holds the
// records twice.
#pragma once

#include <algorithm>
#include <atomic>
#include <compare>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace kv {

// The path of a script, shared by all the records made in it rather than
// copied into each (a large script makes millions). One pointer wide.
class ScriptPath {
 public:
  ScriptPath() = default;
  ScriptPath(std::string path) : node_(new Node{{1}, std::move(path)}) {}
  ScriptPath(const ScriptPath& other) : node_(other.node_) {
    if (node_ != nullptr) node_->refs.fetch_add(1, std::memory_order_relaxed);
  }
  ScriptPath(ScriptPath&& other) noexcept : node_(other.node_) { other.node_ = nullptr; }
  ScriptPath& operator=(ScriptPath other) noexcept {
    std::swap(node_, other.node_);
    return *this;
  }
  ~ScriptPath() {
    if (node_ != nullptr && node_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete node_;
  }

  const std::string& str() const { return node_ != nullptr ? node_->path : Empty(); }
  operator const std::string&() const { return str(); }
  operator std::string_view() const { return str(); }

  friend bool operator==(const ScriptPath& a, const ScriptPath& b) {
    return a.node_ == b.node_ || a.str() == b.str();
  }
  friend std::strong_ordering operator<=>(const ScriptPath& a, const ScriptPath& b) {
    if (a.node_ == b.node_) return std::strong_ordering::equal;
    return a.str().compare(b.str()) <=> 0;
  }

 private:
  struct Node {
    std::atomic<int32_t> refs;
    std::string path;
  };
  static const std::string& Empty();
  Node* node_ = nullptr;
};

// A name's bytes, held in the value itself up to 14 bytes (the names of a
// script mostly are), on the heap beyond. Sixteen bytes wide.
class NameText {
 public:
  NameText() { Set({}); }
  NameText(std::string_view text) { Set(text); }
  NameText(const std::string& text) : NameText(std::string_view(text)) {}
  NameText(const char* text) : NameText(std::string_view(text)) {}
  NameText(const NameText& other) { Set(other.view()); }
  NameText(NameText&& other) noexcept {
    std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    other.Set({});
  }
  NameText& operator=(const NameText& other) {
    if (this != &other) {
      NameText copy(other);
      *this = std::move(copy);
    }
    return *this;
  }
  NameText& operator=(NameText&& other) noexcept {
    if (this != &other) {
      Free();
      std::memcpy(bytes_, other.bytes_, sizeof bytes_);
      other.Set({});
    }
    return *this;
  }
  ~NameText() { Free(); }

  std::string_view view() const {
    if (OnHeap()) {
      const char* data;
      uint32_t size;
      std::memcpy(&data, bytes_, sizeof data);
      std::memcpy(&size, bytes_ + sizeof data, sizeof size);
      return {data, size};
    }
    return {bytes_, static_cast<size_t>(bytes_[kTag])};
  }
  operator std::string_view() const { return view(); }
  std::string str() const { return std::string(view()); }
  bool empty() const { return view().empty(); }
  size_t size() const { return view().size(); }

  friend bool operator==(const NameText& a, const NameText& b) { return a.view() == b.view(); }
  template <typename Text>
    requires std::is_convertible_v<const Text&, std::string_view>
  friend bool operator==(const NameText& a, const Text& b) {
    return a.view() == std::string_view(b);
  }
  friend std::string operator+(std::string a, const NameText& b) { return a.append(b.view()); }

 private:
  static constexpr size_t kTag = 15;  // the inline length, or kOnHeap
  static constexpr char kOnHeap = static_cast<char>(0x7F);
  bool OnHeap() const { return bytes_[kTag] == kOnHeap; }
  void Set(std::string_view text) {
    if (text.size() < kTag) {
      if (!text.empty()) std::memcpy(bytes_, text.data(), text.size());
      bytes_[kTag] = static_cast<char>(text.size());
      return;
    }
    char* data = new char[text.size()];
    std::memcpy(data, text.data(), text.size());
    const uint32_t size = static_cast<uint32_t>(text.size());
    std::memcpy(bytes_, &data, sizeof data);
    std::memcpy(bytes_ + sizeof data, &size, sizeof size);
    bytes_[kTag] = kOnHeap;
  }
  void Free() {
    if (!OnHeap()) return;
    char* data;
    std::memcpy(&data, bytes_, sizeof data);
    delete[] data;
  }
  char bytes_[16];
};

// A name used or defined at a place of a script, kept for the checks of a
// --check run that look at the whole game.
struct NameUse {
  enum Kind : uint8_t {
    kFunctionCall,
    kGoto,
    kSecondLabel,
    kSecondFunction,
    kLabel,     // the first definition of a label in its script
    kFileName,  // a string parameter that names a file by its extension
    // The checks of variables: a variable declared (each declaration), a
    // word read as a variable's value (its first use in its script), the
    // same after the @ of a declaration (where a string was likely meant),
    // a word assigned to at the start of a statement, and a name that a
    // command makes (a layer, a button, ...).
    kVariableDeclaration,
    kLocalDeclaration,
    kVariableUse,
    kInitialValueWord,
    kAssignedWord,
    kMadeName,
  };
  // The script is not kept here: each is kept with the run of its script's
  // records (NameUseRun), and the first place of a second definition apart
  // (FirstDefinition), so that the millions of records stay small.
  NameText name;
  int32_t line = 0;
  int32_t column = 0;
  Kind kind = kFunctionCall;
};

// A label or function defined again in a script (kSecondLabel,
// kSecondFunction at `line`, `column`): where its first definition stands.
struct FirstDefinition {
  int32_t line = 0;
  int32_t column = 0;
  int32_t firstLine = 0;
  int32_t firstColumn = 0;
  friend bool operator<(const FirstDefinition& a, const FirstDefinition& b) {
    return a.line != b.line ? a.line < b.line : a.column < b.column;
  }
};

// Records of one script in source order, with the first places of its
// second definitions sorted by place.
struct NameUseRun {
  std::string_view script;
  std::span<const NameUse> uses;
  std::span<const FirstDefinition> firsts;

  // Where the first definition of `second` (a record of this run) stands;
  // 0, 0 when it was not kept.
  std::pair<int32_t, int32_t> FirstPlaceOf(const NameUse& second) const {
    const FirstDefinition key{second.line, second.column};
    auto it = std::lower_bound(firsts.begin(), firsts.end(), key);
    if (it == firsts.end() || it->line != second.line || it->column != second.column) return {0, 0};
    return {it->firstLine, it->firstColumn};
  }
};

// The records of a run in blocks that never move. Each script's records are
// kept in the order of their lines as they come (the records of a statement
// may come out of order), so that the whole is in source order once the
// scripts are taken in the order of their paths, without a sort that would
// hold the records twice.
class NameUseLog {
 public:
  NameUseLog() = default;
  NameUseLog(NameUseLog&&) noexcept = default;
  NameUseLog& operator=(NameUseLog&&) noexcept = default;

  // Keeps `use`, a record of `script`, after the records of its script on
  // earlier or equal lines; returns it where it stands (valid until the next
  // Add or Clear).
  NameUse& Add(const ScriptPath& script, NameUse use);
  // The same for a second definition, with where the first one stands.
  void AddSecond(const ScriptPath& script, NameUse use, int32_t firstLine, int32_t firstColumn);
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void Clear();

  // The records in source order (script path, then line; as they came for
  // equal places), in runs of one script each.
  std::vector<NameUseRun> InSourceOrder();

  // Visits the records as they came, with their script.
  template <typename Visit>
  void ForEach(Visit&& visit) {
    for (const Group& group : groups_) {
      for (size_t i = group.begin; i < group.end; ++i) visit(group.script, At(i));
    }
  }
  // Visits the first places of the second definitions, with their script.
  template <typename Visit>
  void ForEachFirst(Visit&& visit) {
    for (const Group& group : groups_) {
      for (const FirstDefinition& first : group.firsts) visit(group.script, first);
    }
  }

 private:
  static constexpr size_t kBlock = 4096;
  struct Group {
    ScriptPath script;
    size_t begin, end;  // indexes of the records of one script
    std::vector<FirstDefinition> firsts;
  };
  NameUse& At(size_t index) { return blocks_[index / kBlock][index % kBlock]; }

  std::vector<std::unique_ptr<NameUse[]>> blocks_;
  size_t size_ = 0;
  std::vector<Group> groups_;
  // The records in source order when a script's records came in two runs
  // apart (never in one compile of a game: a script is compiled once), and
  // the first places of their second definitions.
  std::vector<NameUse> merged_;
  std::vector<std::vector<FirstDefinition>> merged_firsts_;
};

}  // namespace kv
