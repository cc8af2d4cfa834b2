// The variables declared so far in a run, as a value that is cheap to copy:
// the language server keeps one where each script begins and ends, and a
// game that declares its own names in every scene would otherwise hold the
// whole game's names once per script.
//
// The names are kept in immutable layers shared between copies (one layer
// for each stretch of declarations between two copies, newest first), and a
// state that looks names up builds one set of them all the first time it
// needs it; a copy does not carry that set.
#pragma once

#include <cstddef>
#include <memory>
#include <set>
#include <string>
#include <string_view>

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
  size_t size() const { return size_; }

  // The same names, whatever the layers.
  bool operator==(const DeclaredVariableSet& other) const;

 private:
  struct Layer {
    std::set<std::string, std::less<>> names;  // none of them in `below`
    std::shared_ptr<const Layer> below;
  };

  // Makes the names added since the last copy a layer.
  void Freeze() const;
  // Every name (built on the first call); lookups and inserts keep it.
  std::set<std::string, std::less<>>& All() const;

  mutable std::shared_ptr<const Layer> layers_;
  mutable std::set<std::string, std::less<>> added_;  // not in layers_
  size_t size_ = 0;
  // Every name, once a lookup has asked (null until then).
  mutable std::unique_ptr<std::set<std::string, std::less<>>> all_;
};

}  // namespace kv
