// DefinitionList: the labels or the functions of a run, kept for the script
// object's header, in compact records.
//
// A large script defines hundreds of thousands of names. Each record is 24
// bytes: its name's bytes lie once in blocks of their own, its script's path
// is shared by every record of that script, and the records lie in one array
// taken from the system that is moved, never copied twice over, as it grows.
// The names of the current script are indexed in an open-addressed table of
// record numbers, to find a second definition of a name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// A definition's name, kept by its list: reads as the text of the name.
class DefinitionName {
 public:
  DefinitionName() = default;
  // `stored`: a 4-byte length, then the name's bytes.
  explicit DefinitionName(const char* stored) : stored_(stored) {}
  std::string_view view() const;
  size_t size() const { return view().size(); }
  operator std::string_view() const { return view(); }
  operator std::string() const { return std::string(view()); }
  friend bool operator==(const DefinitionName& a, std::string_view b) { return a.view() == b; }

 private:
  const char* stored_ = nullptr;
};

// The path of the script a definition stands in, kept once for all the
// definitions of the script.
class DefinitionScript {
 public:
  DefinitionScript() = default;
  explicit DefinitionScript(const std::string* path) : path_(path) {}
  std::string_view view() const { return path_ ? std::string_view(*path_) : std::string_view(); }
  size_t size() const { return view().size(); }
  operator std::string_view() const { return view(); }
  friend bool operator==(const DefinitionScript& a, std::string_view b) { return a.view() == b; }

 private:
  const std::string* path_ = nullptr;
};

struct DefinitionRecord {
  DefinitionName name;
  DefinitionScript script;
  uint32_t position;  // itemPosition at the definition
};

class DefinitionList {
 public:
  DefinitionList() = default;
  ~DefinitionList();
  DefinitionList(const DefinitionList&) = delete;
  DefinitionList& operator=(const DefinitionList&) = delete;

  // Appends a definition and indexes its name. `script` must outlive the
  // record (the caller keeps each script's path once, at a fixed place).
  DefinitionRecord& Add(std::string_view name, const std::string* script, uint32_t position);
  // The number of the indexed record named `name`, or -1.
  int64_t Find(std::string_view name) const;
  // Forgets the index (the records stay): a new script's names are indexed
  // from here on.
  void ClearIndex();
  void clear();

  const DefinitionRecord* data() const { return records_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const DefinitionRecord* begin() const { return records_; }
  const DefinitionRecord* end() const { return records_ + size_; }
  DefinitionRecord& operator[](size_t i) { return records_[i]; }
  const DefinitionRecord& operator[](size_t i) const { return records_[i]; }

 private:
  const char* KeepName(std::string_view name);
  void Index(uint32_t number);
  void GrowIndex();

  DefinitionRecord* records_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  // The names' bytes, in blocks that never move.
  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t block_used_ = 0;
  size_t block_size_ = 0;
  // Open-addressed table of record numbers + 1 (0: empty); a power of two
  // long, at most half full.
  uint32_t* table_ = nullptr;
  size_t table_size_ = 0;
  size_t indexed_ = 0;
};

}  // namespace kv
