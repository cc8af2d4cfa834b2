#include "context/declared_names.h"

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
  // The layers below the first one both share hold the same names in both;
  // names are never in two layers of one chain, so the rest must be equal.
  std::unordered_set<const Layer*> mine;
  for (const Layer* layer = layers_.get(); layer != nullptr; layer = layer->below.get()) mine.insert(layer);
  const Layer* common = nullptr;
  std::vector<const Layer*> theirs;
  for (const Layer* layer = other.layers_.get(); layer != nullptr; layer = layer->below.get()) {
    if (mine.count(layer)) {
      common = layer;
      break;
    }
    theirs.push_back(layer);
  }
  auto above = [common](const std::shared_ptr<const Layer>& top,
                        const std::set<std::string, std::less<>>& added) {
    std::set<std::string, std::less<>> names = added;
    for (const Layer* layer = top.get(); layer != common; layer = layer->below.get()) {
      names.insert(layer->names.begin(), layer->names.end());
    }
    return names;
  };
  return above(layers_, added_) == above(other.layers_, other.added_);
}

}  // namespace kv
