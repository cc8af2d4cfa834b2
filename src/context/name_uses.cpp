#include "context/name_uses.h"

#include <algorithm>

namespace kv {

const std::string& ScriptPath::Empty() {
  static const std::string kEmpty;
  return kEmpty;
}

NameUse& NameUseLog::Add(NameUse use) {
  if (size_ % kBlock == 0 && size_ / kBlock == blocks_.size()) {
    blocks_.push_back(std::make_unique<NameUse[]>(kBlock));
  }
  if (groups_.empty() || !(At(groups_.back().begin).script == use.script)) {
    groups_.push_back({size_, size_});
  }
  Group& group = groups_.back();
  // After every record of the script on an earlier or the same line.
  size_t at = size_;
  while (at > group.begin && At(at - 1).line > use.line) {
    At(at) = std::move(At(at - 1));
    --at;
  }
  At(at) = std::move(use);
  ++size_;
  group.end = size_;
  return At(at);
}

void NameUseLog::Clear() {
  blocks_.clear();
  groups_.clear();
  size_ = 0;
  std::vector<NameUse>().swap(merged_);
}

std::vector<std::span<const NameUse>> NameUseLog::InSourceOrder() {
  std::vector<Group> order = groups_;
  std::stable_sort(order.begin(), order.end(), [this](const Group& a, const Group& b) {
    return At(a.begin).script < At(b.begin).script;
  });
  std::vector<std::span<const NameUse>> spans;
  for (size_t g = 1; g < order.size(); ++g) {
    if (!(At(order[g - 1].begin).script == At(order[g].begin).script)) continue;
    // A script in two runs: its records are merged by line into one list.
    merged_.clear();
    merged_.reserve(size_);
    for (const Group& group : order) {
      for (size_t i = group.begin; i < group.end; ++i) merged_.push_back(At(i));
    }
    std::stable_sort(merged_.begin(), merged_.end(), [](const NameUse& a, const NameUse& b) {
      return a.script != b.script ? a.script < b.script : a.line < b.line;
    });
    spans.emplace_back(merged_);
    return spans;
  }
  for (const Group& group : order) {
    for (size_t i = group.begin; i < group.end;) {
      const size_t end = std::min(group.end, (i / kBlock + 1) * kBlock);
      spans.emplace_back(&At(i), end - i);
      i = end;
    }
  }
  return spans;
}

}  // namespace kv
