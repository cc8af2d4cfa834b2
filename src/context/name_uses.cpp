#include "context/name_uses.h"

#include <algorithm>

namespace kv {

const std::string& ScriptPath::Empty() {
  static const std::string kEmpty;
  return kEmpty;
}

NameUse& NameUseLog::Add(const ScriptPath& script, NameUse use) {
  if (size_ % kBlock == 0 && size_ / kBlock == blocks_.size()) {
    blocks_.push_back(std::make_unique<NameUse[]>(kBlock));
  }
  if (groups_.empty() || !(groups_.back().script == script)) {
    groups_.push_back({script, size_, size_, {}});
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

void NameUseLog::AddSecond(const ScriptPath& script, NameUse use, int32_t firstLine,
                           int32_t firstColumn) {
  const NameUse& kept = Add(script, std::move(use));
  groups_.back().firsts.push_back({kept.line, kept.column, firstLine, firstColumn});
}

void NameUseLog::Clear() {
  blocks_.clear();
  groups_.clear();
  size_ = 0;
  std::vector<NameUse>().swap(merged_);
  merged_firsts_.clear();
}

std::vector<NameUseRun> NameUseLog::InSourceOrder() {
  std::vector<const Group*> order;
  order.reserve(groups_.size());
  for (Group& group : groups_) {
    std::sort(group.firsts.begin(), group.firsts.end());
    order.push_back(&group);
  }
  std::stable_sort(order.begin(), order.end(),
                   [](const Group* a, const Group* b) { return a->script < b->script; });
  std::vector<NameUseRun> runs;
  bool twice = false;
  for (size_t g = 1; g < order.size() && !twice; ++g) twice = order[g - 1]->script == order[g]->script;
  if (twice) {
    // A script in two runs: the records of each script are merged by line
    // into one list.
    merged_.clear();
    merged_.reserve(size_);
    merged_firsts_.clear();
    for (size_t g = 0; g < order.size();) {
      const size_t from = merged_.size();
      std::vector<FirstDefinition>& firsts = merged_firsts_.emplace_back();
      size_t next = g;
      for (; next < order.size() && order[next]->script == order[g]->script; ++next) {
        for (size_t i = order[next]->begin; i < order[next]->end; ++i) merged_.push_back(At(i));
        firsts.insert(firsts.end(), order[next]->firsts.begin(), order[next]->firsts.end());
      }
      std::stable_sort(merged_.begin() + static_cast<std::ptrdiff_t>(from), merged_.end(),
                       [](const NameUse& a, const NameUse& b) { return a.line < b.line; });
      std::sort(firsts.begin(), firsts.end());
      g = next;
    }
    size_t from = 0;
    size_t list = 0;
    for (size_t g = 0; g < order.size();) {
      size_t count = 0;
      size_t next = g;
      for (; next < order.size() && order[next]->script == order[g]->script; ++next) {
        count += order[next]->end - order[next]->begin;
      }
      runs.push_back({order[g]->script.str(), std::span<const NameUse>(merged_).subspan(from, count),
                      merged_firsts_[list++]});
      from += count;
      g = next;
    }
    return runs;
  }
  for (const Group* group : order) {
    for (size_t i = group->begin; i < group->end;) {
      const size_t end = std::min(group->end, (i / kBlock + 1) * kBlock);
      runs.push_back({group->script.str(), {&At(i), end - i}, group->firsts});
      i = end;
    }
  }
  return runs;
}

}  // namespace kv
