#include "context/declared_names.h"

#include <algorithm>
#include <iterator>
#include <numeric>
#include <vector>

namespace kv {

namespace {

size_t HashOf(std::string_view name) { return std::hash<std::string_view>()(name); }

}  // namespace

void DeclaredVariableSet::Names::Add(std::string_view name) {
  bytes.append(name);
  ends.push_back(static_cast<uint32_t>(bytes.size()));
}

bool DeclaredVariableSet::Layer::Holds(std::string_view name) const {
  auto it = std::lower_bound(order.begin(), order.end(), name,
                             [this](uint32_t i, std::string_view n) { return names.Name(i) < n; });
  return it != order.end() && names.Name(*it) == name;
}

template <typename Resolve>
bool DeclaredVariableSet::RefSlots::Contains(std::string_view name, size_t hash,
                                             const Resolve& resolve) const {
  if (slots.empty()) return false;
  const size_t mask = slots.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    if (slots[i].run == kNoRun) return false;
    if (resolve(slots[i]) == name) return true;
  }
}

void DeclaredVariableSet::RefSlots::Put(size_t hash, Ref ref) {
  const size_t mask = slots.size() - 1;
  size_t i = hash & mask;
  while (slots[i].run != kNoRun) i = (i + 1) & mask;
  slots[i] = ref;
  ++count;
}

template <typename Resolve>
void DeclaredVariableSet::RefSlots::Add(size_t hash, Ref ref, const Resolve& resolve) {
  if ((count + 1) * 2 > slots.size()) {
    std::vector<Ref> old(std::max<size_t>(16, slots.size() * 2));
    old.swap(slots);
    count = 0;
    for (const Ref& kept : old) {
      if (kept.run != kNoRun) Put(HashOf(resolve(kept)), kept);
    }
  }
  Put(hash, ref);
}

bool DeclaredVariableSet::Table::Contains(std::string_view name, size_t hash) const {
  return slots.Contains(name, hash, [this](Ref ref) { return runs[ref.run]->names.Name(ref.index); });
}

DeclaredVariableSet::DeclaredVariableSet(const DeclaredVariableSet& other) : size_(other.size_) {
  other.Freeze();
  layers_ = other.layers_;
  if (other.local_.count == 0) table_ = other.table_;
}

DeclaredVariableSet& DeclaredVariableSet::operator=(const DeclaredVariableSet& other) {
  if (this == &other) return *this;
  other.Freeze();
  layers_ = other.layers_;
  added_ = Names();
  size_ = other.size_;
  local_ = RefSlots();
  local_runs_.clear();
  table_ = other.local_.count == 0 ? other.table_ : nullptr;
  return *this;
}

void DeclaredVariableSet::Freeze() const {
  if (added_.size() == 0) return;
  auto layer = std::make_shared<Layer>();
  layer->names = std::move(added_);
  added_ = Names();
  layer->names.bytes.shrink_to_fit();
  layer->names.ends.shrink_to_fit();
  const Names& names = layer->names;
  layer->order.resize(names.size());
  std::iota(layer->order.begin(), layer->order.end(), uint32_t{0});
  std::sort(layer->order.begin(), layer->order.end(),
            [&names](uint32_t a, uint32_t b) { return names.Name(a) < names.Name(b); });
  layer->below = std::move(layers_);
  if (layer->below) layer->depth = layer->below->depth + 1;
  // The references `local_` holds to these names stay good: the layer
  // keeps them in the order they were added.
  if (table_) local_runs_.push_back(layer.get());
  layers_ = std::move(layer);
}

const DeclaredVariableSet::Table& DeclaredVariableSet::Lookup() const {
  if (!table_) {
    Freeze();
    auto table = std::make_shared<Table>();
    table->layers = layers_;
    for (const Layer* layer = layers_.get(); layer != nullptr; layer = layer->below.get()) {
      table->runs.push_back(layer);
    }
    if (size_ != 0) {
      size_t capacity = 16;
      while (capacity < size_ * 2) capacity *= 2;
      table->slots.slots.resize(capacity);
      for (size_t run = 0; run < table->runs.size(); ++run) {
        const Names& names = table->runs[run]->names;
        for (size_t i = 0; i < names.size(); ++i) {
          // No name is in two layers.
          table->slots.Put(HashOf(names.Name(i)),
                           {static_cast<uint32_t>(run), static_cast<uint32_t>(i)});
        }
      }
    }
    table_ = std::move(table);
    local_ = RefSlots();
    local_runs_.clear();
  }
  return *table_;
}

void DeclaredVariableSet::DropLookup() const {
  table_.reset();
  local_ = RefSlots();
  local_runs_.clear();
}

bool DeclaredVariableSet::Has(std::string_view name) const {
  const Table& table = Lookup();
  const size_t hash = HashOf(name);
  return table.Contains(name, hash) ||
         local_.Contains(name, hash, [this](Ref ref) { return LocalName(ref); });
}

bool DeclaredVariableSet::Contains(std::string_view name) const { return Has(name); }

void DeclaredVariableSet::Insert(const std::string& name) {
  if (Has(name)) return;
  InsertNew(name);
}

void DeclaredVariableSet::InsertNew(const std::string& name) {
  // A run's names are told apart by 32-bit ends.
  if (added_.bytes.size() + name.size() > UINT32_MAX) Freeze();
  added_.Add(name);
  ++size_;
  if (!table_) return;  // the table built later holds it
  const Ref ref{static_cast<uint32_t>(local_runs_.size()), static_cast<uint32_t>(added_.size() - 1)};
  local_.Add(HashOf(name), ref, [this](Ref r) { return LocalName(r); });
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
  auto above = [common](const std::shared_ptr<const Layer>& top, const Names& added,
                        std::vector<std::string_view>* names) {
    names->clear();
    for (size_t i = 0; i < added.size(); ++i) names->push_back(added.Name(i));
    for (const Layer* layer = top.get(); layer != common; layer = layer->below.get()) {
      for (size_t i = 0; i < layer->names.size(); ++i) names->push_back(layer->names.Name(i));
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
  if (layers_ == other.layers_ && added_.size() == 0 && other.added_.size() == 0) return true;
  // The names above the first shared layer on each side (those of one
  // script, as a rule, in one layer): with one layer on each side, the
  // layers themselves are compared, in their order.
  const Layer* common = FirstShared(other);
  auto only_layer = [common](const std::shared_ptr<const Layer>& top,
                             const Names& added) -> const Layer* {
    if (added.size() != 0) return nullptr;
    const Layer* only = nullptr;
    for (const Layer* layer = top.get(); layer != common; layer = layer->below.get()) {
      if (layer->names.size() == 0) continue;
      if (only != nullptr) return nullptr;
      only = layer;
    }
    return only;
  };
  const Layer* my_layer = only_layer(layers_, added_);
  const Layer* their_layer = only_layer(other.layers_, other.added_);
  if (my_layer != nullptr && their_layer != nullptr) {
    if (my_layer->names.size() != their_layer->names.size()) return false;
    for (size_t i = 0; i < my_layer->order.size(); ++i) {
      if (my_layer->Sorted(i) != their_layer->Sorted(i)) return false;
    }
    return true;
  }
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

DeclaredVariableSet::Eraser::Eraser(std::vector<std::string> names) : names_(std::move(names)) {
  std::sort(names_.begin(), names_.end());
  names_.erase(std::unique(names_.begin(), names_.end()), names_.end());
}

bool DeclaredVariableSet::Eraser::Erases(std::string_view name) const {
  return std::binary_search(names_.begin(), names_.end(), name);
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
    for (const std::string& name : names_) erased += old->Holds(name) ? 1 : 0;
    Rebuilt now;
    if (erased == 0 && below.layer == old->below) {
      now = {old, below.removed};
    } else {
      auto copy = std::make_shared<Layer>();
      if (erased == 0) {
        copy->names = old->names;
        copy->order = old->order;
      } else {
        // The names kept, in the order they were added, and their sorted
        // order taken from the old one.
        std::vector<uint32_t> renumbered(old->names.size(), kNoRun);
        for (size_t i = 0; i < old->names.size(); ++i) {
          const std::string_view name = old->names.Name(i);
          if (Erases(name)) continue;
          renumbered[i] = static_cast<uint32_t>(copy->names.size());
          copy->names.Add(name);
        }
        for (uint32_t i : old->order) {
          if (renumbered[i] != kNoRun) copy->order.push_back(renumbered[i]);
        }
      }
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
  Names kept;
  for (size_t i = 0; i < set->added_.size(); ++i) {
    const std::string_view name = set->added_.Name(i);
    if (!Erases(name)) kept.Add(name);
  }
  const size_t erased = set->added_.size() - kept.size();
  set->added_ = std::move(kept);
  const Rebuilt rebuilt = Rebuild(set->layers_);
  set->layers_ = rebuilt.layer;
  set->size_ -= erased + rebuilt.removed;
  set->DropLookup();
}

}  // namespace kv
