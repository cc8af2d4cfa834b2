#include "driver/route_map.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <set>
#include <utility>

#include "context/diagnostics.h"
#include "context/source_text.h"
#include "language/command_table.h"
#include "platform/console.h"
#include "source/statement.h"

namespace kv {
namespace {

constexpr std::string_view kSelectResult = "select_result";

int32_t SelectId() {
  static const int32_t id = [] {
    for (int32_t i = 0; i < kCommandCount; ++i) {
      if (kCommands[static_cast<size_t>(i)].name == "select") return i;
    }
    return -1;
  }();
  return id;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A script name as script_change writes it, with '/' between its parts.
std::string NormalName(std::string_view name) {
  std::string normal(name);
  for (size_t i = 0; i < normal.size(); ++i) {
    if (IsCp932LeadByte(static_cast<unsigned char>(normal[i]))) {
      ++i;
    } else if (normal[i] == '\\') {
      normal[i] = '/';
    }
  }
  return normal;
}

}  // namespace

std::string_view TextStore::Keep(std::string_view text) {
  if (text.empty()) return {};
  if (size_ - used_ < text.size()) {
    size_ = std::max(kBlockSize, text.size());
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(size_));
    used_ = 0;
  }
  char* at = blocks_.back().get() + used_;
  std::copy(text.begin(), text.end(), at);
  used_ += text.size();
  return {at, text.size()};
}

const char* RouteNodeKindName(RouteNode::Kind kind) {
  switch (kind) {
    case RouteNode::kStart: return "start";
    case RouteNode::kScript: return "script";
    case RouteNode::kLabel: return "label";
    case RouteNode::kFunction: return "function";
    case RouteNode::kEnd: return "end";
    case RouteNode::kUndefined: return "undefined";
    case RouteNode::kUnknown: return "unknown";
  }
  return "";
}

const char* RouteEdgeKindName(RouteEdge::Kind kind) {
  switch (kind) {
    case RouteEdge::kStartEdge: return "start";
    case RouteEdge::kGoto: return "goto";
    case RouteEdge::kFunctionCall: return "function_call";
    case RouteEdge::kScriptChange: return "script_change";
    case RouteEdge::kScriptLoad: return "script_load";
    case RouteEdge::kFallThrough: return "fall_through";
    case RouteEdge::kScriptEnd: return "script_end";
  }
  return "";
}

RouteRecorder::RouteRecorder(std::string engine_directory)
    : engine_directory_(std::move(engine_directory)), select_id_(SelectId()) {
  map_.base = engine_directory_;
  for (const int32_t id : {cmd::kFunction, cmd::kFunctionEnd, cmd::kIf, cmd::kElseIf, cmd::kElse, cmd::kEndIf,
                           cmd::kLoop, cmd::kLoopEnd, cmd::kGoto, cmd::kFunctionCall, cmd::kScriptChange,
                           cmd::kScriptLoad, select_id_}) {
    if (id >= 0 && id < kCommandCount) watched_[static_cast<size_t>(id)] = true;
  }
}

RouteRecorder::~RouteRecorder() = default;

void RouteRecorder::OnScriptStart(const SourceText& source) { StartScript(source); }

void RouteRecorder::StartScript(const SourceText& source) {
  if (current_ == &source) return;
  EndScript();
  current_ = &source;
  frames_.clear();
  choices_.clear();
  live_ = true;
  auto [it, added] = scripts_.try_emplace(source.path, marks_.size());
  if (added) {
    const std::string_view path = map_.paths.emplace_back(source.path);
    const size_t node = marks_.size();
    AddMark(RouteNode::kScript, path, static_cast<uint32_t>(node), 1, 1);
    // main.txt is read first, in the setup phase: the game starts there,
    // and its start leads into the script.
    if (node == 0) AddMark(RouteNode::kStart, "start", 0, 1, 1, 0);
  }
  script_node_ = it->second;
  const Mark& script = marks_[script_node_];
  current_path_ = {script.name, script.name_size};
  segment_ = script_node_;
  last_line_ = 1;
}

void RouteRecorder::EndScript() {
  if (current_ == nullptr) return;
  // A function left open: its script's own statements end the script.
  for (const Frame& frame : frames_) {
    if (frame.kind == Frame::kFunction) {
      segment_ = frame.saved_segment;
      live_ = frame.saved_live;
      break;
    }
  }
  if (live_) {
    AddMark(RouteNode::kEnd, "end", static_cast<uint32_t>(script_node_), last_line_, 0,
            static_cast<uint32_t>(segment_));
  }
  current_ = nullptr;
}

size_t RouteRecorder::AddMark(RouteNode::Kind kind, std::string_view name, uint32_t script, int32_t line,
                              int32_t column, uint32_t linked) {
  marks_.push_back(Mark{name.data(), static_cast<uint32_t>(name.size()), script, linked, line, column, kind});
  return marks_.size() - 1;
}

size_t RouteRecorder::AddNode(RouteNode::Kind kind, std::string_view name, const SourceText& source,
                              uint32_t offset, uint32_t linked) {
  // A label begins its statement, whose line the reader has: only the
  // column is looked for.
  const int32_t line = offset == source.statementOffset ? source.statementLine : source.LineAt(offset);
  return AddMark(kind, map_.texts.Keep(name), static_cast<uint32_t>(script_node_), line, source.ColumnAt(offset),
                 linked);
}

void RouteRecorder::AddJump(RouteEdge::Kind kind, const SourceText& source, uint32_t offset,
                            std::string_view target, bool literal) {
  const SourcePlace place = Diagnostics::PlaceIn(source, offset);
  const std::string_view label = BranchLabel();
  const std::string_view kept = map_.texts.Keep(target);
  jumps_.push_back(Jump{kept.data(), label.data(), static_cast<uint32_t>(kept.size()),
                        static_cast<uint32_t>(label.size()), static_cast<uint32_t>(segment_),
                        static_cast<uint32_t>(script_node_), place.line, place.column, kind, literal});
}

bool RouteRecorder::InBranch() const {
  for (auto it = frames_.rbegin(); it != frames_.rend(); ++it) {
    if (it->kind == Frame::kFunction) return false;
    return true;
  }
  return false;
}

std::string_view RouteRecorder::BranchLabel() {
  size_t first = 0;
  for (size_t i = frames_.size(); i > 0; --i) {
    if (frames_[i - 1].kind == Frame::kFunction) {
      first = i;
      break;
    }
  }
  std::string label;
  for (size_t i = first; i < frames_.size(); ++i) {
    const Frame& frame = frames_[i];
    if (frame.kind != Frame::kIf) continue;
    // The frames are those of the current script, whose text is still there.
    const std::string text = !frame.condition.empty() || current_ == nullptr
                                 ? std::string(frame.condition)
                                 : TextBetween(*current_, frame.condition_from, frame.condition_to);
    if (text.empty()) continue;
    if (!label.empty()) label += " / ";
    label += text;
  }
  return map_.texts.Keep(label);
}

std::string RouteRecorder::TextFrom(const SourceText& source, uint32_t offset) const {
  // The statement has just been read: the reader stands behind it.
  return TextBetween(source, offset, source.position);
}

std::string RouteRecorder::TextBetween(const SourceText& source, uint32_t from, uint32_t to) {
  const uint32_t end = std::min<uint32_t>(to, static_cast<uint32_t>(source.contents.size()));
  if (from >= end) return "";
  std::string_view text(source.contents.data() + from, end - from);
  while (!text.empty() && (IsSpace(text.back()) || text.back() == ';')) text.remove_suffix(1);
  std::string collapsed;
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsSpace(text[i])) {
      if (!collapsed.empty() && collapsed.back() != ' ') collapsed += ' ';
    } else {
      collapsed += text[i];
    }
  }
  return collapsed;
}

void RouteRecorder::SetCondition(Frame* frame, const SourceText& source, const Statement& statement) const {
  frame->condition = {};
  frame->condition_from = frame->condition_to = 0;
  const CommandParameter& first = statement[0];
  if (first.size() < 2) return;
  // `select_result == N` after a select: the choice's own text.
  if (statement.size() == 1 && first.size() == 4 && first[2].kind == ElemOperator &&
      first[2].text == "==") {
    const CommandElement* number = nullptr;
    if (first[1].kind == ElemWord && first[1].text == kSelectResult && first[3].kind == ElemNumber) {
      number = &first[3];
    } else if (first[3].kind == ElemWord && first[3].text == kSelectResult &&
               first[1].kind == ElemNumber) {
      number = &first[1];
    }
    if (number != nullptr && number->number >= 1 && number->number <= choices_.size() &&
        number->number == static_cast<double>(static_cast<size_t>(number->number))) {
      const std::string_view choice = choices_[static_cast<size_t>(number->number) - 1];
      if (!choice.empty()) {
        frame->condition = choice;
        return;
      }
    }
  }
  // The statement has just been read: the reader stands behind it.
  frame->condition_from = first[1].offset;
  frame->condition_to = source.position;
}

void RouteRecorder::OnStatement(const SourceText& source, int32_t id, const Statement& statement) {
  if (current_ != &source) return OnFirstStatement(source, id, statement);
  if (statement.size() == 0 || statement[0].empty()) return;
  last_line_ = source.statementLine;
  // Most statements are none of those the map is drawn from: they are
  // passed over here, without the recording's own work (kept apart).
  if (id != CmdLabel && (id < 0 || id >= kCommandCount || !watched_[static_cast<size_t>(id)])) return;
  Record(source, id, statement);
}

[[gnu::cold, gnu::noinline]] void RouteRecorder::OnFirstStatement(const SourceText& source, int32_t id,
                                                                   const Statement& statement) {
  StartScript(source);
  OnStatement(source, id, statement);
}

[[gnu::noinline]] void RouteRecorder::Record(const SourceText& source, int32_t id, const Statement& statement) {
  const CommandParameter& first = statement[0];
  const uint32_t offset = first[0].offset;
  // A jump to one plain word names its label or function; anything else is
  // computed when the game runs.
  const bool word_target = statement.size() == 1 && first.size() == 2 && first[1].kind == ElemWord;
  const bool string_target = statement.size() == 1 && first.size() == 2 && first[1].kind == ElemString;
  auto target_text = [&] { return first.size() < 2 ? std::string() : TextFrom(source, first[1].offset); };

  if (id == CmdLabel) {
    // Falling through into it from the statements before, if they run on.
    const size_t node =
        AddNode(RouteNode::kLabel, first[0].text, source, offset, live_ ? static_cast<uint32_t>(segment_) : kNoLink);
    segment_ = node;
    live_ = true;
    return;
  }
  if (id == select_id_) {
    choices_.clear();
    for (uint32_t i = 0; i < statement.size(); ++i) {
      const CommandParameter& parameter = statement[i];
      const size_t at = i == 0 ? 1 : 0;
      const bool single = parameter.size() == at + 1 && parameter[at].kind == ElemString;
      choices_.push_back(single ? map_.texts.Keep(parameter[at].text) : std::string_view());
    }
    return;
  }
  switch (id) {
    case cmd::kFunction: {
      if (first.size() < 2) return;
      const size_t node = AddNode(RouteNode::kFunction, first[1].text, source, first[1].offset, kNoLink);
      frames_.push_back(Frame{Frame::kFunction, live_, segment_});
      segment_ = node;
      live_ = true;
      return;
    }
    case cmd::kFunctionEnd:
      while (!frames_.empty()) {
        const Frame frame = frames_.back();
        frames_.pop_back();
        if (frame.kind == Frame::kFunction) {
          segment_ = frame.saved_segment;
          live_ = frame.saved_live;
          break;
        }
      }
      return;
    case cmd::kIf:
      frames_.push_back(Frame{Frame::kIf});
      SetCondition(&frames_.back(), source, statement);
      return;
    case cmd::kElseIf:
      if (!frames_.empty() && frames_.back().kind == Frame::kIf) {
        SetCondition(&frames_.back(), source, statement);
      }
      return;
    case cmd::kElse:
      if (!frames_.empty() && frames_.back().kind == Frame::kIf) {
        frames_.back().condition = "else";
        frames_.back().condition_from = frames_.back().condition_to = 0;
      }
      return;
    case cmd::kEndIf:
      if (!frames_.empty() && frames_.back().kind == Frame::kIf) frames_.pop_back();
      return;
    case cmd::kLoop:
      frames_.push_back(Frame{Frame::kLoop});
      return;
    case cmd::kLoopEnd:
      if (!frames_.empty() && frames_.back().kind == Frame::kLoop) frames_.pop_back();
      return;
    case cmd::kGoto:
    case cmd::kFunctionCall: {
      const bool go = id == cmd::kGoto;
      AddJump(go ? RouteEdge::kGoto : RouteEdge::kFunctionCall, source, offset,
              word_target ? first[1].text : target_text(), word_target);
      if (go && !InBranch()) live_ = false;
      return;
    }
    case cmd::kScriptChange:
    case cmd::kScriptLoad: {
      const bool change = id == cmd::kScriptChange;
      AddJump(change ? RouteEdge::kScriptChange : RouteEdge::kScriptLoad, source, offset,
              string_target ? first[1].text : target_text(), string_target);
      if (change && !InBranch()) live_ = false;
      return;
    }
    default:
      return;
  }
}

RouteMap RouteRecorder::Finish() {
  EndScript();
  // The nodes and edges of what was recorded, in the order recorded.
  auto path_of = [&](uint32_t script) {
    const Mark& mark = marks_[script];
    return std::string_view(mark.name, mark.name_size);
  };
  for (const Mark& mark : marks_) {
    RouteNode node{mark.kind, {mark.name, mark.name_size}, path_of(mark.script), mark.line, mark.column};
    // A script is its own cluster; the start stands outside them.
    node.cluster = mark.kind == RouteNode::kStart ? -1 : static_cast<int32_t>(mark.script);
    map_.nodes.push_back(node);
  }
  // The edges between marks, each recorded with the mark it was added with:
  // the start leads into main.txt; an end, and a label fallen into, are
  // reached from the node before.
  for (size_t i = 0; i < marks_.size(); ++i) {
    const Mark& mark = marks_[i];
    if (mark.linked == kNoLink) continue;
    RouteEdge edge{RouteEdge::kFallThrough, mark.linked, i, "", path_of(mark.script), mark.line, mark.column};
    if (mark.kind == RouteNode::kStart) {
      edge.kind = RouteEdge::kStartEdge;
      std::swap(edge.from, edge.to);
    } else if (mark.kind == RouteNode::kEnd) {
      edge.kind = RouteEdge::kScriptEnd;
    }
    map_.edges.push_back(edge);
  }
  // Names are looked up in the jumping script first, then in the game. Only
  // the names some jump looks for are indexed: a game may define tens of
  // thousands of labels and functions and jump to few of them.
  bool goes_to_labels = false, calls_functions = false;
  for (const Jump& jump : jumps_) {
    if (!jump.literal) continue;
    goes_to_labels |= jump.kind == RouteEdge::kGoto;
    calls_functions |= jump.kind == RouteEdge::kFunctionCall;
  }
  std::map<std::pair<std::string_view, std::string_view>, size_t> labels_by_script;
  std::unordered_map<std::string_view, size_t> labels, functions;
  std::map<std::string, size_t> scripts_by_name;
  for (size_t i = 0; i < map_.nodes.size(); ++i) {
    const RouteNode& node = map_.nodes[i];
    if (node.kind == RouteNode::kLabel) {
      if (!goes_to_labels) continue;
      labels_by_script.try_emplace({node.script, node.name}, i);
      labels.try_emplace(node.name, i);
    } else if (node.kind == RouteNode::kFunction) {
      if (calls_functions) functions.try_emplace(node.name, i);
    } else if (node.kind == RouteNode::kScript) {
      std::string_view path = node.script;
      if (path.starts_with(engine_directory_)) path.remove_prefix(engine_directory_.size());
      scripts_by_name.try_emplace(NormalName(path), i);
    }
  }
  auto find_script = [&](std::string_view name) -> const size_t* {
    const std::string normal = NormalName(name);
    if (auto it = scripts_by_name.find(normal); it != scripts_by_name.end()) return &it->second;
    // Otherwise a script whose path ends with the name.
    for (const auto& [shown, node] : scripts_by_name) {
      if (shown.size() > normal.size() && shown.ends_with(normal) &&
          shown[shown.size() - normal.size() - 1] == '/')
        return &node;
    }
    return nullptr;
  };

  std::map<std::pair<RouteEdge::Kind, std::string_view>, size_t> undefined;
  for (const Jump& jump : jumps_) {
    const std::string_view target(jump.target, jump.target_size);
    RouteEdge edge{jump.kind, jump.from, 0, {jump.label, jump.label_size}, path_of(jump.script), jump.line,
                   jump.column};
    if (!jump.literal) {
      map_.has_unknown = true;
      RouteNode node{RouteNode::kUnknown, target, edge.script, edge.line, edge.column};
      node.cluster = map_.nodes[edge.from].cluster;
      map_.nodes.push_back(std::move(node));
      edge.to = map_.nodes.size() - 1;
      map_.edges.push_back(std::move(edge));
      continue;
    }
    const size_t* found = nullptr;
    if (edge.kind == RouteEdge::kGoto) {
      auto it = labels_by_script.find({edge.script, target});
      if (it != labels_by_script.end()) {
        found = &it->second;
      } else if (auto any = labels.find(target); any != labels.end()) {
        found = &any->second;
      }
    } else if (edge.kind == RouteEdge::kFunctionCall) {
      if (auto it = functions.find(target); it != functions.end()) found = &it->second;
    } else {
      found = find_script(target);
    }
    if (found != nullptr) {
      edge.to = *found;
    } else {
      // One node per missing name (a missing script: per name as written).
      const RouteEdge::Kind key = edge.kind == RouteEdge::kScriptLoad ? RouteEdge::kScriptChange : edge.kind;
      auto [it, added] = undefined.try_emplace({key, target}, map_.nodes.size());
      if (added) map_.nodes.push_back(RouteNode{RouteNode::kUndefined, target, "", 0, 0});
      edge.to = it->second;
    }
    map_.edges.push_back(std::move(edge));
  }
  jumps_.clear();
  marks_.clear();

  // Every route from the start of main.txt.
  // The edges from each node: next[first[i]] up to next[first[i + 1]]
  // (32-bit numbers: these arrays are written afresh, and each page first
  // written costs a page fault).
  std::vector<uint32_t> first(map_.nodes.size() + 1, 0), next(map_.edges.size());
  for (const RouteEdge& edge : map_.edges) ++first[edge.from + 1];
  for (size_t i = 1; i < first.size(); ++i) first[i] += first[i - 1];
  {
    std::vector<uint32_t> fill(first.begin(), first.end() - 1);
    for (const RouteEdge& edge : map_.edges) next[fill[edge.from]++] = static_cast<uint32_t>(edge.to);
  }
  std::deque<uint32_t> queue;
  for (size_t i = 0; i < map_.nodes.size(); ++i) {
    if (map_.nodes[i].kind == RouteNode::kStart) {
      map_.nodes[i].reached = true;
      queue.push_back(static_cast<uint32_t>(i));
    }
  }
  while (!queue.empty()) {
    const size_t at = queue.front();
    queue.pop_front();
    for (size_t k = first[at]; k < first[at + 1]; ++k) {
      const uint32_t to = next[k];
      if (map_.nodes[to].reached) continue;
      map_.nodes[to].reached = true;
      queue.push_back(to);
    }
  }
  for (size_t i = 0; i < map_.nodes.size(); ++i) {
    const RouteNode& node = map_.nodes[i];
    const bool listed = node.kind == RouteNode::kScript || node.kind == RouteNode::kLabel ||
                        node.kind == RouteNode::kFunction;
    if (listed && !node.reached) map_.unreached.push_back(i);
  }
  return std::move(map_);
}

}  // namespace kv
