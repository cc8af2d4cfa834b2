#include "context/declared_names.h"

#include <algorithm>
#include <iterator>
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

void DeclaredVariableSet::InsertNew(const std::string& name) {
  local_.insert(*added_.insert(name).first);
  ++size_;
}

const DeclaredVariableSet::Layer* DeclaredVariableSet::FirstShared(const DeclaredVariableSet& other) const {
  // The layers below the first one both share hold the same names in both;
  // names are never in two layers of one chain. Chains share their lower
  // part (a layer never changes what is below it): the first shared layer
  // is where the two chains, walked from the same depth, meet.
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
  return mine;
}

void DeclaredVariableSet::NamesAboveShared(const DeclaredVariableSet& other,
                                           std::vector<std::string_view>* mine_names,
                                           std::vector<std::string_view>* their_names) const {
  // Nothing but views is allocated: this runs after each script compiled
  // alone, over chains of one layer per script.
  const Layer* common = FirstShared(other);
  auto above = [common](const std::shared_ptr<const Layer>& top,
                        const std::set<std::string, std::less<>>& added,
                        std::vector<std::string_view>* names) {
    names->assign(added.begin(), added.end());
    for (const Layer* layer = top.get(); layer != common; layer = layer->below.get()) {
      names->insert(names->end(), layer->names.begin(), layer->names.end());
    }
    std::sort(names->begin(), names->end());
  };
  above(layers_, added_, mine_names);
  above(other.layers_, other.added_, their_names);
}

bool DeclaredVariableSet::operator==(const DeclaredVariableSet& other) const {
  if (size_ != other.size_) return false;
  // Copies of one state share all their layers: the comparison that runs
  // for each script after the one compiled alone, where only the error
  // count moved, walks nothing.
  if (layers_ == other.layers_) return added_ == other.added_;
  // The sets of names above the first shared layer on each side (those of
  // one script, as a rule, in one set): with one set on each side, the sets
  // themselves are compared, in their order.
  const Layer* common = FirstShared(other);
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
  std::vector<std::string_view> mine, theirs;
  NamesAboveShared(other, &mine, &theirs);
  return mine == theirs;
}

void DeclaredVariableSet::DifferencesFrom(const DeclaredVariableSet& before,
                                          std::vector<std::string>* added,
                                          std::vector<std::string>* removed) const {
  std::vector<std::string_view> mine, theirs, differ;
  NamesAboveShared(before, &mine, &theirs);
  std::set_difference(mine.begin(), mine.end(), theirs.begin(), theirs.end(),
                      std::back_inserter(differ));
  added->assign(differ.begin(), differ.end());
  differ.clear();
  std::set_difference(theirs.begin(), theirs.end(), mine.begin(), mine.end(),
                      std::back_inserter(differ));
  removed->assign(differ.begin(), differ.end());
}

DeclaredVariableSet::Eraser::Eraser(std::vector<std::string> names) : names_(std::move(names)) {}

size_t DeclaredVariableSet::Eraser::EraseNames(std::set<std::string, std::less<>>* names) const {
  size_t erased = 0;
  for (const std::string& name : names_) erased += names->erase(name);
  return erased;
}

DeclaredVariableSet::Eraser::Rebuilt DeclaredVariableSet::Eraser::Rebuild(
    const std::shared_ptr<const Layer>& layer) {
  if (!layer) return {};
  if (auto it = rebuilt_.find(layer.get()); it != rebuilt_.end()) return it->second;
  // The chain is walked down first, then rebuilt upwards: a late state
  // stands on one layer per script, too deep to recurse through safely.
  std::vector<const std::shared_ptr<const Layer>*> chain;
  Rebuilt below;
  for (const std::shared_ptr<const Layer>* at = &layer; *at; at = &(*at)->below) {
    if (auto it = rebuilt_.find(at->get()); it != rebuilt_.end()) {
      below = it->second;
      break;
    }
    chain.push_back(at);
  }
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    const std::shared_ptr<const Layer>& old = **it;
    size_t erased = 0;
    for (const std::string& name : names_) erased += old->names.count(name);
    Rebuilt now;
    if (erased == 0 && below.layer == old->below) {
      now = {old, below.removed};
    } else {
      auto copy = std::make_shared<Layer>();
      copy->names = old->names;
      EraseNames(&copy->names);
      copy->below = below.layer;
      if (copy->below) copy->depth = copy->below->depth + 1;
      now = {std::move(copy), below.removed + erased};
    }
    rebuilt_[old.get()] = now;
    below = std::move(now);
  }
  return below;
}

void DeclaredVariableSet::Eraser::EraseFrom(DeclaredVariableSet* set) {
  const size_t erased = EraseNames(&set->added_);
  const Rebuilt rebuilt = Rebuild(set->layers_);
  set->layers_ = rebuilt.layer;
  set->size_ -= erased + rebuilt.removed;
  set->table_.reset();
  set->local_.clear();
}

}  // namespace kv
