// The variables declared so far in a run, as a value that is cheap to copy:
// the language server keeps one where each script begins and ends, and a
// game that declares its own names in every scene would otherwise hold the
// whole game's names once per script.
//
// The names are kept in immutable layers shared between copies (one layer
// for each stretch of declarations between two copies, newest first), each
// its names' bytes in one run with their ends and their sorted order. A
// state that looks names up builds one table of them all the first time it
// needs it, referring to the names where the layers hold them; a copy
// shares that table while no name has been added to the state it copies (a
// server that compiles one script again and again from where it begins
// builds it once).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kv {

class DeclaredVariableSet {
 public:
  DeclaredVariableSet() = default;
  // A copy shares the layers: the names added since the last copy become a
  // layer of their own first, in `other` too (which reads the same after).
  DeclaredVariableSet(const DeclaredVariableSet& other);
  DeclaredVariableSet& operator=(const DeclaredVariableSet& other);
  DeclaredVariableSet(DeclaredVariableSet&&) noexcept = default;
  DeclaredVariableSet& operator=(DeclaredVariableSet&&) noexcept = default;

  bool Contains(std::string_view name) const;
  void Insert(const std::string& name);
  // Insert for a name the caller knows is not in the set: no lookup table
  // is built to tell.
  void InsertNew(const std::string& name);
  // The names this set holds that `before` does not (`added`) and those
  // `before` holds that it does not (`removed`), each sorted. Cheap for sets
  // that share most of their layers (a state and one taken from it a few
  // declarations later).
  void DifferencesFrom(const DeclaredVariableSet& before, std::vector<std::string>* added,
                       std::vector<std::string>* removed) const;

  // Takes names away from sets that share their layers: each layer that
  // holds one of them, or stands above one that does, is rebuilt once for
  // all the sets it serves.
  class Eraser;
  size_t size() const { return size_; }

  // The same names, whatever the layers.
  bool operator==(const DeclaredVariableSet& other) const;

  // Builds the table of every name now, for the copies made from this set
  // to share; and gives it back.
  void KeepLookup() const { Lookup(); }
  void DropLookup() const;

 private:
  // Names one after another in one run of bytes, in the order added: one
  // allocation for all of them rather than a node and a string each.
  struct Names {
    std::string bytes;
    std::vector<uint32_t> ends;  // where each name ends in `bytes`
    size_t size() const { return ends.size(); }
    std::string_view Name(size_t i) const {
      const uint32_t begin = i == 0 ? 0 : ends[i - 1];
      return std::string_view(bytes.data() + begin, ends[i] - begin);
    }
    void Add(std::string_view name);
  };

  struct Layer {
    Names names;                  // none of them in `below`
    std::vector<uint32_t> order;  // the indexes of `names`, sorted by name
    std::shared_ptr<const Layer> below;
    size_t depth = 1;  // the layers down to the first, this one included
    std::string_view Sorted(size_t i) const { return names.Name(order[i]); }
    bool Holds(std::string_view name) const;
  };

  // A name as a table holds it: the index of a name in one of the runs the
  // table numbers.
  struct Ref {
    uint32_t run = kNoRun;
    uint32_t index = 0;
  };
  static constexpr uint32_t kNoRun = UINT32_MAX;

  // Open addressing over references; `Resolve` gives the name of one.
  struct RefSlots {
    std::vector<Ref> slots;  // a power of two; empty: no data
    size_t count = 0;
    template <typename Resolve>
    bool Contains(std::string_view name, size_t hash, const Resolve& resolve) const;
    void Put(size_t hash, Ref ref);  // with room for it
    template <typename Resolve>
    void Add(size_t hash, Ref ref, const Resolve& resolve);  // grows as needed
  };

  // Every name of some layers in one open-addressed table (a state late in
  // a large game starts with a hundred thousand names: one allocation
  // instead of one per name). It holds the layers it numbers.
  struct Table {
    std::shared_ptr<const Layer> layers;
    std::vector<const Layer*> runs;  // by the run number of a reference
    RefSlots slots;
    bool Contains(std::string_view name, size_t hash) const;
  };

  // The first layer this set and `other` share (null for none).
  const Layer* FirstShared(const DeclaredVariableSet& other) const;
  // The names of this set and of `other` that the layers both share do not
  // hold, sorted, as views.
  void NamesAboveShared(const DeclaredVariableSet& other, std::vector<std::string_view>* mine,
                        std::vector<std::string_view>* theirs) const;
  // Makes the names added since the last copy a layer.
  void Freeze() const;
  // The table of every name but those added since it was built (which
  // `local_` holds), built on the first call.
  const Table& Lookup() const;
  bool Has(std::string_view name) const;
  // The name a reference of `local_` stands for.
  std::string_view LocalName(Ref ref) const {
    return ref.run < local_runs_.size() ? local_runs_[ref.run]->names.Name(ref.index)
                                        : added_.Name(ref.index);
  }

  mutable std::shared_ptr<const Layer> layers_;
  mutable Names added_;  // not in layers_
  size_t size_ = 0;
  // Null until a lookup asks; then every name when it was built, and the
  // names added since in `local_`: references to the layers they were
  // frozen into since (`local_runs_`, in order) or, past those, to `added_`.
  mutable std::shared_ptr<const Table> table_;
  mutable RefSlots local_;
  mutable std::vector<const Layer*> local_runs_;
};

class DeclaredVariableSet::Eraser {
 public:
  explicit Eraser(std::vector<std::string> names);
  void EraseFrom(DeclaredVariableSet* set);

 private:
  struct Rebuilt {
    std::shared_ptr<const Layer> layer;
    size_t removed = 0;  // names taken away from it and the layers below
  };
  Rebuilt Rebuild(const std::shared_ptr<const Layer>& layer);
  bool Erases(std::string_view name) const;

  std::vector<std::string> names_;  // sorted, each once
  std::unordered_map<const Layer*, Rebuilt> rebuilt_;
};

}  // namespace kv
