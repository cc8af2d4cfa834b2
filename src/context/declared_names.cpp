#include "context/declared_names.h"

#include <unordered_set>
#include <vector>

namespace kv {

DeclaredVariableSet::DeclaredVariableSet(const DeclaredVariableSet& other) : size_(other.size_) {
  other.Freeze();
  layers_ = other.layers_;
}

DeclaredVariableSet& DeclaredVariableSet::operator=(const DeclaredVariableSet& other) {
  if (this == &other) return *this;
  other.Freeze();
  layers_ = other.layers_;
  added_.clear();
  size_ = other.size_;
  all_.reset();
  return *this;
}

void DeclaredVariableSet::Freeze() const {
  if (added_.empty()) return;
  auto layer = std::make_shared<Layer>();
  layer->names.swap(added_);
  layer->below = std::move(layers_);
  layers_ = std::move(layer);
}

std::set<std::string, std::less<>>& DeclaredVariableSet::All() const {
  // Until a copy makes a layer, every name is among those added: a set that
  // is never copied (a conversion's) holds each name once.
  if (!layers_) return added_;
  if (!all_) {
    all_ = std::make_unique<std::set<std::string, std::less<>>>(added_);
    for (const Layer* layer = layers_.get(); layer != nullptr; layer = layer->below.get()) {
      all_->insert(layer->names.begin(), layer->names.end());
    }
  }
  return *all_;
}

bool DeclaredVariableSet::Contains(std::string_view name) const { return All().count(name) != 0; }

void DeclaredVariableSet::Insert(const std::string& name) {
  if (!All().insert(name).second) return;
  added_.insert(name);
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
