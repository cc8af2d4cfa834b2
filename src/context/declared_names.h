// The variables declared so far in a run, as a value that is cheap to copy:
// the language server keeps one where each script begins and ends, and a
// game that declares its own names in every scene would otherwise hold the
// whole game's names once per script.
//
// The names are kept in immutable layers shared between copies (one layer
// for each stretch of declarations between two copies, newest first). A
// state that looks names up builds one table of them all the first time it
// needs it, viewing the names where the layers hold them; a copy shares that
// table while no name has been added to the state it copies (a server that
// compiles one script again and again from where it begins builds it once).
#pragma once

#include <cstddef>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
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
  void DropLookup() const {
    table_.reset();
    local_.clear();
  }

 private:
  struct Layer {
    std::set<std::string, std::less<>> names;  // none of them in `below`
    std::shared_ptr<const Layer> below;
    size_t depth = 1;  // the layers down to the first, this one included
  };

  // Every name of some layers in one open-addressed table of views (a
  // state late in a large game starts with a hundred thousand names: one
  // allocation instead of one per name). It holds the layers it views.
  struct Table {
    std::shared_ptr<const Layer> layers;
    std::vector<std::string_view> slots;  // a power of two; empty: no data
    bool Contains(std::string_view name) const;
  };

  // The names of this set and of `other` that the layers both share do not
  // hold, sorted, as views.
  // The first layer this set and `other` share (null for none).
  const Layer* FirstShared(const DeclaredVariableSet& other) const;
  void NamesAboveShared(const DeclaredVariableSet& other, std::vector<std::string_view>* mine,
                        std::vector<std::string_view>* theirs) const;
  // Makes the names added since the last copy a layer.
  void Freeze() const;
  // The table of every name but those added since it was built (which
  // `local_` holds), built on the first call.
  const Table& Lookup() const;
  bool Has(std::string_view name) const { return Lookup().Contains(name) || local_.count(name) != 0; }

  mutable std::shared_ptr<const Layer> layers_;
  mutable std::set<std::string, std::less<>> added_;  // not in layers_
  size_t size_ = 0;
  // Null until a lookup asks; then every name when it was built, and the
  // names added since (views of their nodes in `added_` or in the layers
  // these were frozen into, which never move).
  mutable std::shared_ptr<const Table> table_;
  mutable std::unordered_set<std::string_view> local_;
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
  size_t EraseNames(std::set<std::string, std::less<>>* names) const;

  std::vector<std::string> names_;
  std::unordered_map<const Layer*, Rebuilt> rebuilt_;
};

}  // namespace kv
