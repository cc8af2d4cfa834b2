#include "context/declared_names.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace kv {

DeclaredVariableSet::DeclaredVariableSet(const DeclaredVariableSet& other) : size_(other.size_) {
  other.Freeze();
  layers_ = other.layers_;
  if (other.local_.empty()) table_ = other.table_;
}

DeclaredVariableSet& DeclaredVariableSet::operator=(const DeclaredVariableSet& other) {
  if (this == &other) return *this;
  other.Freeze();
  layers_ = other.layers_;
  added_.clear();
  size_ = other.size_;
  local_.clear();
  table_ = other.local_.empty() ? other.table_ : nullptr;
  return *this;
}

void DeclaredVariableSet::Freeze() const {
  if (added_.empty()) return;
  auto layer = std::make_shared<Layer>();
  layer->names.swap(added_);
  layer->below = std::move(layers_);
  if (layer->below) layer->depth = layer->below->depth + 1;
  layers_ = std::move(layer);
}

namespace {

size_t HashOf(std::string_view name) { return std::hash<std::string_view>()(name); }

}  // namespace

bool DeclaredVariableSet::Table::Contains(std::string_view name) const {
  if (slots.empty()) return false;
  const size_t mask = slots.size() - 1;
  for (size_t i = HashOf(name) & mask;; i = (i + 1) & mask) {
    if (slots[i].data() == nullptr) return false;
    if (slots[i] == name) return true;
  }
}

const DeclaredVariableSet::Table& DeclaredVariableSet::Lookup() const {
  if (!table_) {
    Freeze();
    auto table = std::make_shared<Table>();
    table->layers = layers_;
    if (size_ != 0) {
      size_t capacity = 16;
      while (capacity < size_ * 2) capacity *= 2;
      table->slots.resize(capacity);
      const size_t mask = capacity - 1;
      for (const Layer* layer = layers_.get(); layer != nullptr; layer = layer->below.get()) {
        for (const std::string& name : layer->names) {
          size_t i = HashOf(name) & mask;
          while (table->slots[i].data() != nullptr) i = (i + 1) & mask;
          table->slots[i] = name;  // no name is in two layers
        }
      }
    }
    table_ = std::move(table);
    local_.clear();
  }
  return *table_;
}

bool DeclaredVariableSet::Contains(std::string_view name) const { return Has(name); }

void DeclaredVariableSet::Insert(const std::string& name) {
  if (Has(name)) return;
  local_.insert(*added_.insert(name).first);
  ++size_;
}

bool DeclaredVariableSet::operator==(const DeclaredVariableSet& other) const {
  if (size_ != other.size_) return false;
  // Copies of one state share all their layers: the comparison that runs
  // for each script after the one compiled alone, where only the error
  // count moved, walks nothing.
  if (layers_ == other.layers_) return added_ == other.added_;
  // The layers below the first one both share hold the same names in both;
  // names are never in two layers of one chain, so the rest must be equal.
  // Chains share their lower part (a layer never changes what is below
  // it): the first shared layer is where the two chains, walked from the
  // same depth, meet. Nothing is allocated: the comparison runs after each
  // script compiled alone, over chains of one layer per script.
  auto depth = [](const Layer* layer) { return layer == nullptr ? size_t{0} : layer->depth; };
  const Layer* mine = layers_.get();
  const Layer* theirs = other.layers_.get();
  size_t my_depth = depth(mine), their_depth = depth(theirs);
  for (; my_depth > their_depth; --my_depth) mine = mine->below.get();
  for (; their_depth > my_depth; --their_depth) theirs = theirs->below.get();
  while (mine != theirs) {
    mine = mine->below.get();
    theirs = theirs->below.get();
  }
  const Layer* common = mine;
  // The sets of names above it on each side (those of one script, as a
  // rule, in one set): with one set on each side, the sets themselves are
  // compared, in their order.
  auto only_set = [common](const std::shared_ptr<const Layer>& top,
                           const std::set<std::string, std::less<>>& added) {
    const std::set<std::string, std::less<>>* only = added.empty() ? nullptr : &added;
    for (const Layer* layer = top.get(); layer != common; layer = layer->below.get()) {
      if (layer->names.empty()) continue;
      if (only != nullptr) return static_cast<decltype(only)>(nullptr);
      only = &layer->names;
    }
    return only;
  };
  const auto* my_set = only_set(layers_, added_);
  const auto* their_set = only_set(other.layers_, other.added_);
  if (my_set != nullptr && their_set != nullptr) return *my_set == *their_set;
  // Views, sorted: no name is copied.
  auto above = [common](const std::shared_ptr<const Layer>& top,
                        const std::set<std::string, std::less<>>& added) {
    std::vector<std::string_view> names(added.begin(), added.end());
    for (const Layer* layer = top.get(); layer != common; layer = layer->below.get()) {
      names.insert(names.end(), layer->names.begin(), layer->names.end());
    }
    std::sort(names.begin(), names.end());
    return names;
  };
  return above(layers_, added_) == above(other.layers_, other.added_);
}

}  // namespace kv
