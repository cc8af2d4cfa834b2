// The route map's outputs: DOT text, JSON, and SVG laid out by Graphviz's
// library where the build has it.
#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>
#include <string>
#include <system_error>

#include "driver/route_map.h"
#include "context/kc_system.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/signals.h"

#ifdef KV_HAVE_GRAPHVIZ
#include <graphviz/cgraph.h>
#include <graphviz/gvc.h>
#endif

namespace kv {
namespace {

// `path` relative to `base` when it lies below it, with '/' between its
// parts, in UTF-8.
std::string Shown(std::string_view path, std::string_view base, char separator) {
  if (!base.empty() && path.starts_with(base)) path.remove_prefix(base.size());
  std::string shown(path);
  for (size_t i = 0; i < shown.size(); ++i) {
    // A CP932 trail byte may be the separator's byte: double-byte characters
    // stay whole.
    if (IsCp932LeadByte(static_cast<unsigned char>(shown[i]))) {
      ++i;
    } else if (shown[i] == separator) {
      shown[i] = '/';
    }
  }
  return Cp932ToUtf8(shown);
}

// The text being made: written in place, in a buffer that grows as needed
// (the map's elements are many and short, made of many short pieces). It
// offers what the writers use of std::string's own.
class TextOut {
 public:
  void push_back(char c) {
    Room(1);
    *end_++ = c;
  }
  TextOut& append(const char* data, size_t size) {
    Room(size);
    if (size != 0) std::memcpy(end_, data, size);
    end_ += size;
    return *this;
  }
  TextOut& append(std::string_view text) { return append(text.data(), text.size()); }
  TextOut& operator+=(std::string_view text) { return append(text); }
  TextOut& operator+=(char c) {
    push_back(c);
    return *this;
  }
  // Room for `size` bytes more: where they go, handed back to Wrote.
  char* Reserve(size_t size) {
    Room(size);
    return end_;
  }
  void Wrote(char* end) { end_ = end; }
  std::string_view View() const { return {data_.get(), static_cast<size_t>(end_ - data_.get())}; }
  size_t size() const { return static_cast<size_t>(end_ - data_.get()); }
  void clear() { end_ = data_.get(); }

 private:
  void Room(size_t size) {
    if (static_cast<size_t>(limit_ - end_) < size) Grow(size);
  }
  void Grow(size_t size) {
    const size_t used = this->size();
    const size_t capacity = std::max(used + size, 2 * static_cast<size_t>(limit_ - data_.get()) + 256);
    auto grown = std::make_unique_for_overwrite<char[]>(capacity);
    if (used != 0) std::memcpy(grown.get(), data_.get(), used);
    data_ = std::move(grown);
    end_ = data_.get() + used;
    limit_ = data_.get() + capacity;
  }
  std::unique_ptr<char[]> data_;
  char* end_ = nullptr;
  char* limit_ = nullptr;
};

// Appends `text`, each byte for which `Escaped` is true written as `Escape`
// makes it (and PutQuoted, between double quotes). Names rarely hold such
// bytes: the runs between them go in whole.
using Escape = std::string_view (*)(char c, char (&escape)[8]);
template <bool (*Escaped)(unsigned char), Escape Escape, typename Out>
void PutEscaped(Out* out, std::string_view text) {
  size_t from = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!Escaped(static_cast<unsigned char>(text[i]))) continue;
    out->append(text.data() + from, i - from);
    char escape[8];
    out->append(Escape(text[i], escape));
    from = i + 1;
  }
  out->append(text.data() + from, text.size() - from);
}
template <bool (*Escaped)(unsigned char), Escape Escape, typename Out>
void PutQuoted(Out* out, std::string_view text) {
  out->push_back('"');
  PutEscaped<Escaped, Escape>(out, text);
  out->push_back('"');
}

bool DotEscaped(unsigned char c) { return c == '"' || c == '\\' || c == '\n'; }
std::string_view DotEscape(char c, char (&escape)[8]) {
  escape[0] = '\\';
  escape[1] = c == '\n' ? 'n' : c;
  return {escape, 2};
}
bool JsonEscaped(unsigned char c) { return c == '"' || c == '\\' || c < 0x20; }
std::string_view JsonEscape(char c, char (&escape)[8]) {
  if (c == '"' || c == '\\') {
    escape[0] = '\\';
    escape[1] = c;
    return {escape, 2};
  }
  std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
  return {escape, 6};
}

// Appends `utf8` as a DOT string.
template <typename Out>
void PutDotQuoted(Out* out, std::string_view utf8) {
  PutQuoted<DotEscaped, DotEscape>(out, utf8);
}

// Appends `utf8` as a JSON string.
template <typename Out>
void PutJsonQuoted(Out* out, std::string_view utf8) {
  PutQuoted<JsonEscaped, JsonEscape>(out, utf8);
}

// The same for CP932 text: most names are ASCII, whose bytes are their UTF-8
// form, and need no converted copy.
void PutDotQuotedCp932(TextOut* out, std::string_view cp932) {
  if (IsAscii(cp932)) {
    PutDotQuoted(out, cp932);
  } else {
    PutDotQuoted(out, Cp932ToUtf8(cp932));
  }
}
void PutJsonQuotedCp932(TextOut* out, std::string_view cp932) {
  if (IsAscii(cp932)) {
    PutJsonQuoted(out, cp932);
  } else {
    PutJsonQuoted(out, Cp932ToUtf8(cp932));
  }
}

// Appends `prefix`, `value` in decimal and `suffix`.
void PutNumber(TextOut* out, std::string_view prefix, int64_t value, std::string_view suffix = {}) {
  constexpr size_t kDigits = 20;
  char* at = out->Reserve(prefix.size() + kDigits + suffix.size());
  if (!prefix.empty()) std::memcpy(at, prefix.data(), prefix.size());
  at = std::to_chars(at + prefix.size(), at + prefix.size() + kDigits, value).ptr;
  if (!suffix.empty()) std::memcpy(at, suffix.data(), suffix.size());
  out->Wrote(at + suffix.size());
}

// A node's id, "n" and its index; quoted, "\"n12\"", after `prefix`.
void PutNodeId(TextOut* out, size_t index) { PutNumber(out, "n", static_cast<int64_t>(index)); }
void PutQuotedNodeId(TextOut* out, size_t index, std::string_view prefix = "\"n") {
  PutNumber(out, prefix, static_cast<int64_t>(index), "\"");
}

// The text of a map as it is made: kept whole, or handed on in pieces of
// about kPiece bytes so that the text of a large map is never all in memory
// (and its buffer stays small enough to stay in the processor's cache beside
// the run's own work).
class MapText {
 public:
  using Sink = std::function<bool(std::string_view)>;
  explicit MapText(Sink sink = nullptr) : sink_(std::move(sink)) {
    if (sink_) text_.Reserve(kPiece + kPiece / 4);
  }
  TextOut* text() { return &text_; }
  // Called between elements: hands on what has been made once it is large.
  void Piece() {
    if (sink_ && text_.size() >= kPiece) Hand();
  }
  // Hands on the rest; false when the sink refused a piece.
  bool End() {
    if (sink_) Hand();
    return ok_;
  }

 private:
  static constexpr size_t kPiece = size_t{256} << 10;
  void Hand() {
    if (ok_ && text_.size() != 0) ok_ = sink_(text_.View());
    text_.clear();
  }
  Sink sink_;
  TextOut text_;
  bool ok_ = true;
};

// The shown name of each script path, made once per script, and its DOT and
// JSON strings, made once when first written.
class ShownNames {
 public:
  ShownNames(const RouteMap& map, char separator) : map_(map), separator_(separator) {}
  const std::string& Of(std::string_view path) { return Find(path).shown; }
  const std::string& DotOf(std::string_view path) {
    Names& names = Find(path);
    if (names.dot.empty()) PutDotQuoted(&names.dot, names.shown);
    return names.dot;
  }
  const std::string& JsonOf(std::string_view path) {
    Names& names = Find(path);
    if (names.json.empty()) PutJsonQuoted(&names.json, names.shown);
    return names.json;
  }

 private:
  struct Names {
    std::string shown, dot, json;
  };
  Names& Find(std::string_view path) {
    // Nodes and edges come script by script.
    if (last_ != nullptr && last_key_.data() == path.data() && last_key_.size() == path.size()) return *last_;
    auto [it, added] = names_.try_emplace(path);
    if (added) it->second.shown = Shown(path, map_.base, separator_);
    last_key_ = path;
    last_ = &it->second;
    return it->second;
  }

  const RouteMap& map_;
  char separator_;
  std::unordered_map<std::string_view, Names> names_;
  std::string_view last_key_;
  Names* last_ = nullptr;
};

constexpr std::string_view kMsgRouteMapNotWritten = "ルートマップ \"%s\" を書き込めませんでした: %s\n";

// Appends the text a node shows, as a DOT or JSON string.
template <void (*Put)(TextOut*, std::string_view)>
void PutNodeText(TextOut* out, const RouteNode& node, ShownNames& shown) {
  switch (node.kind) {
    case RouteNode::kStart: Put(out, "start"); return;
    case RouteNode::kScript: Put(out, shown.Of(node.script)); return;
    case RouteNode::kEnd: Put(out, "end"); return;
    default: break;
  }
  std::string_view prefix, suffix;
  if (node.kind == RouteNode::kLabel) suffix = ":";
  if (node.kind == RouteNode::kFunction) prefix = "function ";
  if (node.kind == RouteNode::kUndefined) prefix = "undefined\n";
  if (node.kind == RouteNode::kUnknown) prefix = "unknown\n";
  std::string text(prefix);
  if (IsAscii(node.name)) {
    text += node.name;
  } else {
    text += Cp932ToUtf8(node.name);
  }
  text += suffix;
  Put(out, text);
}

// The text a node shows (the list of what no route reaches).
std::string NodeText(const RouteNode& node, ShownNames& shown) {
  switch (node.kind) {
    case RouteNode::kStart: return "start";
    case RouteNode::kScript: return shown.Of(node.script);
    case RouteNode::kLabel: return Cp932ToUtf8(node.name) + ":";
    case RouteNode::kFunction: return "function " + Cp932ToUtf8(node.name);
    case RouteNode::kEnd: return "end";
    case RouteNode::kUndefined: return "undefined\n" + Cp932ToUtf8(node.name);
    case RouteNode::kUnknown: return "unknown\n" + Cp932ToUtf8(node.name);
  }
  return "";
}

std::string_view NodeAttributes(const RouteNode& node) {
  const bool grey = !node.reached;
  switch (node.kind) {
    case RouteNode::kStart:
      return "shape=circle, style=filled, fillcolor=\"#2e7d32\", fontcolor=white";
    case RouteNode::kScript:
      return grey ? "shape=folder, style=\"dashed,filled\", fillcolor=lightgrey, color=gray50, fontcolor=gray40"
                  : "shape=folder";
    case RouteNode::kLabel:
      return grey ? "shape=box, style=\"rounded,filled,dashed\", fillcolor=lightgrey, color=gray50, fontcolor=gray40"
                  : "shape=box, style=\"rounded,filled\", fillcolor=white";
    case RouteNode::kFunction:
      return grey ? "shape=component, style=\"rounded,filled,dashed\", fillcolor=lightgrey, color=gray50, fontcolor=gray40"
                  : "shape=component, style=filled, fillcolor=white";
    case RouteNode::kEnd:
      return grey ? "shape=doublecircle, fontsize=9, margin=0, style=\"dashed,filled\", fillcolor=lightgrey, color=gray50, fontcolor=gray40"
                  : "shape=doublecircle, fontsize=9, margin=0";
    case RouteNode::kUndefined:
      return "shape=octagon, color=red, fontcolor=red, style=filled, fillcolor=\"#ffebee\"";
    case RouteNode::kUnknown:
      return "shape=diamond, color=orange, fontcolor=\"#e65100\"";
  }
  return "";
}

std::string_view EdgeAttributes(RouteEdge::Kind kind) {
  switch (kind) {
    case RouteEdge::kStartEdge: return "penwidth=2";
    case RouteEdge::kGoto: return "color=black";
    case RouteEdge::kFunctionCall: return "style=dashed, arrowhead=empty";
    case RouteEdge::kScriptChange: return "color=blue, penwidth=2";
    case RouteEdge::kScriptLoad: return "color=blue, penwidth=2, style=dashed";
    case RouteEdge::kFallThrough: return "style=dotted, color=gray40";
    case RouteEdge::kScriptEnd: return "style=dotted, color=gray40, arrowhead=dot";
  }
  return "";
}

}  // namespace

RouteMapFormat RouteMapFormatOf(std::string_view path) {
  std::string lower(path.substr(std::min(path.size(), path.rfind('.'))));
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
  if (lower == ".dot") return RouteMapFormat::kDot;
  if (lower == ".json") return RouteMapFormat::kJson;
  if (lower == ".svg") return RouteMapFormat::kSvg;
  return RouteMapFormat::kNone;
}

namespace {

void MakeDot(const RouteMap& map, char separator, MapText& text) {
  ShownNames shown(map, separator);
  TextOut& dot = *text.text();
  dot +=
      "digraph route_map {\n"
      "  graph [charset=\"UTF-8\", rankdir=TB, fontname=\"sans-serif\", compound=true];\n"
      "  node [fontname=\"sans-serif\", fontsize=11];\n"
      "  edge [fontname=\"sans-serif\", fontsize=9];\n";
  auto write_node = [&](size_t i, bool in_cluster) {
    const RouteNode& node = map.nodes[i];
    PutNumber(&dot, in_cluster ? "    n" : "  n", static_cast<int64_t>(i), " [id=\"n");
    PutNumber(&dot, {}, static_cast<int64_t>(i), "\", label=");
    if (node.kind == RouteNode::kScript) {
      dot += shown.DotOf(node.script);
    } else if ((node.kind == RouteNode::kLabel || node.kind == RouteNode::kFunction) && IsAscii(node.name)) {
      // Most nodes: a name in ASCII, whose bytes are its UTF-8.
      dot += node.kind == RouteNode::kLabel ? "\"" : "\"function ";
      PutEscaped<DotEscaped, DotEscape>(&dot, node.name);
      dot += node.kind == RouteNode::kLabel ? ":\"" : "\"";
    } else {
      PutNodeText<PutDotQuoted>(&dot, node, shown);
    }
    dot.append(", ").append(NodeAttributes(node)).append("];\n");
    text.Piece();
  };
  // The nodes of each script's cluster, in node order: those of cluster c
  // are members[first[c]] up to members[first[c + 1]] (two arrays, rather
  // than a list for every node of which a few hundred have members).
  std::vector<uint32_t> first(map.nodes.size() + 1, 0), members;
  for (const RouteNode& node : map.nodes) {
    if (node.cluster >= 0) ++first[static_cast<size_t>(node.cluster) + 1];
  }
  for (size_t c = 1; c < first.size(); ++c) first[c] += first[c - 1];
  members.resize(first.back());
  {
    std::vector<uint32_t> fill(first.begin(), first.end() - 1);
    for (size_t i = 0; i < map.nodes.size(); ++i) {
      const int32_t cluster = map.nodes[i].cluster;
      if (cluster >= 0) members[fill[static_cast<size_t>(cluster)]++] = static_cast<uint32_t>(i);
    }
  }
  for (size_t i = 0; i < map.nodes.size(); ++i) {
    const RouteNode& node = map.nodes[i];
    if (node.kind != RouteNode::kScript) continue;
    dot.append("  subgraph cluster_");
    PutNodeId(&dot, i);
    dot.append(" {\n    label=");
    dot += shown.DotOf(node.script);
    dot += ";\n";
    dot += node.reached ? "    style=rounded; color=gray60;\n"
                        : "    style=\"rounded,dashed,filled\"; color=gray60; fillcolor=\"#f0f0f0\";\n";
    for (size_t k = first[i]; k < first[i + 1]; ++k) write_node(members[k], true);
    dot += "  }\n";
  }
  first = {};
  members = {};
  for (size_t i = 0; i < map.nodes.size(); ++i) {
    if (map.nodes[i].cluster < 0) write_node(i, false);
  }
  for (const RouteEdge& edge : map.edges) {
    PutNumber(&dot, "  n", static_cast<int64_t>(edge.from), " -> n");
    PutNumber(&dot, {}, static_cast<int64_t>(edge.to), " [");
    dot.append(EdgeAttributes(edge.kind));
    if (!edge.label.empty()) {
      dot.append(", label=");
      PutDotQuotedCp932(&dot, edge.label);
    }
    dot += "];\n";
    text.Piece();
  }
  if (!map.unreached.empty() || map.has_unknown) {
    // What no route reaches, listed beside the picture, one left-aligned
    // line each (a large game may list tens of thousands: the lines go to
    // the text one by one).
    auto put_line = [&](std::string_view line) {
      for (char c : line) {
        if (c == '"' || c == '\\') dot += '\\';
        dot += c;
      }
      dot += "\\l";
      text.Piece();
    };
    dot += "  unreachable_list [id=\"unreachable\", shape=note, fontcolor=gray30, label=\"";
    if (!map.unreached.empty()) {
      put_line("unreachable:");
      std::string line;
      for (size_t i : map.unreached) {
        const RouteNode& node = map.nodes[i];
        line = shown.Of(node.script);
        if (node.kind != RouteNode::kScript) line.append(" ").append(NodeText(node, shown));
        // A name's own line feeds (an undefined or unknown node's) would
        // break its line, as they did in the list.
        size_t from = 0;
        for (size_t at; (at = line.find('\n', from)) != std::string::npos; from = at + 1) {
          put_line(std::string_view(line).substr(from, at - from));
        }
        put_line(std::string_view(line).substr(from));
      }
    }
    if (map.has_unknown) put_line("routes to computed targets are unknown");
    dot += "\"];\n";
  }
  dot += "}\n";
}

// A kind's name as a JSON string, made once.
template <typename Kind, int kCount, const char* (*Name)(Kind)>
std::string_view JsonKind(Kind kind) {
  static const std::array<std::string, kCount> quoted = [] {
    std::array<std::string, kCount> all;
    for (int i = 0; i < kCount; ++i) PutJsonQuoted(&all[static_cast<size_t>(i)], Name(static_cast<Kind>(i)));
    return all;
  }();
  return quoted[static_cast<size_t>(kind)];
}
std::string_view JsonKind(RouteNode::Kind kind) {
  return JsonKind<RouteNode::Kind, RouteNode::kUnknown + 1, RouteNodeKindName>(kind);
}
std::string_view JsonKind(RouteEdge::Kind kind) {
  return JsonKind<RouteEdge::Kind, RouteEdge::kScriptEnd + 1, RouteEdgeKindName>(kind);
}

void MakeJson(const RouteMap& map, char separator, MapText& text) {
  ShownNames shown(map, separator);
  TextOut& json = *text.text();
  json += "{\n  \"nodes\": [";
  for (size_t i = 0; i < map.nodes.size(); ++i) {
    const RouteNode& node = map.nodes[i];
    PutQuotedNodeId(&json, i, i == 0 ? "\n    {\"id\": \"n" : ",\n    {\"id\": \"n");
    json.append(", \"kind\": ").append(JsonKind(node.kind)).append(", \"name\": ");
    switch (node.kind) {
      case RouteNode::kScript: json += shown.JsonOf(node.script); break;
      case RouteNode::kStart: json += "\"start\""; break;
      case RouteNode::kEnd: json += "\"end\""; break;
      default: PutJsonQuotedCp932(&json, node.name); break;
    }
    if (!node.script.empty()) {
      json.append(", \"file\": ").append(shown.JsonOf(node.script));
      // The absolute path once per script: the other nodes name their
      // script's node.
      if (node.kind == RouteNode::kScript) {
        json += ", \"path\": ";
        PutJsonQuotedCp932(&json, node.script);
      }
      PutNumber(&json, ", \"line\": ", node.line);
      PutNumber(&json, ", \"column\": ", node.column);
    }
    if (node.cluster >= 0) PutQuotedNodeId(&json, static_cast<size_t>(node.cluster), ", \"script\": \"n");
    json += node.reached ? ", \"reachable\": true}" : ", \"reachable\": false}";
    text.Piece();
  }
  json += "\n  ],\n  \"edges\": [";
  for (size_t i = 0; i < map.edges.size(); ++i) {
    const RouteEdge& edge = map.edges[i];
    PutQuotedNodeId(&json, edge.from, i == 0 ? "\n    {\"from\": \"n" : ",\n    {\"from\": \"n");
    PutQuotedNodeId(&json, edge.to, ", \"to\": \"n");
    json.append(", \"kind\": ").append(JsonKind(edge.kind));
    if (!edge.label.empty()) {
      json += ", \"label\": ";
      PutJsonQuotedCp932(&json, edge.label);
    }
    json.append(", \"file\": ").append(shown.JsonOf(edge.script));
    PutNumber(&json, ", \"line\": ", edge.line);
    PutNumber(&json, ", \"column\": ", edge.column, "}");
    text.Piece();
  }
  json += "\n  ],\n  \"unreachable\": [";
  for (size_t i = 0; i < map.unreached.size(); ++i) {
    PutQuotedNodeId(&json, map.unreached[i], i == 0 ? "\"n" : ", \"n");
    text.Piece();
  }
  json += map.has_unknown ? "],\n  \"unknownRoutes\": true\n}\n" : "],\n  \"unknownRoutes\": false\n}\n";
}

}  // namespace

bool WriteRouteMap(KCSystem& sys, const RouteMap& map) {
  RouteMapWriter writer(sys);
  writer.Open();
  writer.Make(map);
  return writer.Close();
}

RouteMapWriter::RouteMapWriter(KCSystem& sys)
    : sys_(sys), format_(RouteMapFormatOf(sys.options.routeMapPath)), separator_(sys.fs.Separator()) {}

RouteMapWriter::~RouteMapWriter() {
  if (thread_.joinable()) thread_.join();
}

void RouteMapWriter::Open() {
  if (format_ == RouteMapFormat::kSvg) return;
  out_ = sys_.fs.CreateOutput(sys_.options.routeMapPath, &err_);
  made_ = out_ != nullptr;
}

void RouteMapWriter::Make(const RouteMap& map) {
  if (!made_) return;
  if (format_ == RouteMapFormat::kSvg) {
    made_ = RouteMapSvg(RouteMapDot(map, separator_), &svg_, &err_);
    return;
  }
  // DOT and JSON go to the file piece by piece as they are made.
  MapText text([&](std::string_view piece) { return out_->Write(piece.data(), piece.size(), &err_); });
  if (format_ == RouteMapFormat::kJson) {
    MakeJson(map, separator_, text);
  } else {
    MakeDot(map, separator_, text);
  }
  made_ = text.End();
}

bool RouteMapWriter::Commit() {
  if (made_ && format_ == RouteMapFormat::kSvg) {
    out_ = sys_.fs.CreateOutput(sys_.options.routeMapPath, &err_);
    made_ = out_ != nullptr && out_->Write(svg_.data(), svg_.size(), &err_);
    svg_ = {};
  }
  made_ = made_ && out_->Commit(&err_);
  committed_ = true;
  return made_;
}

bool RouteMapWriter::Close() {
  if (!committed_) Commit();
  out_.reset();
  if (!made_) sys_.log.Error(kMsgRouteMapNotWritten, {LogArg::Path(sys_.options.routeMapPath), LogArg::Path(err_)});
  return made_;
}

void RouteMapWriter::Start(RouteRecorder* recorder) {
  if (started_) return;
  started_ = true;
  // The file is made here: creating it reads and sets what the whole
  // process shares (the file creation mask), beside the run's own probes of
  // its outputs.
  Open();
  auto make = [this, recorder] {
    RouteMap map = recorder->Finish();
    Make(map);
    // The wait for the disk and the rename into place (which lets go of a
    // map the file replaces) are spent here too, beside the run's last
    // checks. An SVG map's file is created, and committed, by the caller.
    if (format_ == RouteMapFormat::kSvg) return;
    if (made_ && out_ != nullptr) made_ = out_->Flush(&err_);
    Commit();
  };
  try {
    thread_ = StartThread(make);
  } catch (const std::system_error&) {
    // No second thread to be had: the map is made here.
    make();
  }
}

void RouteMapWriter::Join() {
  if (thread_.joinable()) thread_.join();
}

bool RouteMapWriter::Done(RouteRecorder* recorder) {
  if (!started_) {
    started_ = true;
    Open();
    Make(recorder->Finish());
  }
  Join();
  return Close();
}

std::string RouteMapDot(const RouteMap& map, char separator) {
  MapText text;
  MakeDot(map, separator, text);
  return std::string(text.text()->View());
}

std::string RouteMapJson(const RouteMap& map, char separator) {
  MapText text;
  MakeJson(map, separator, text);
  return std::string(text.text()->View());
}

#ifdef KV_HAVE_GRAPHVIZ

namespace {
std::string* graphviz_errors = nullptr;
int KeepGraphvizError(char* message) {
  if (graphviz_errors != nullptr) *graphviz_errors += message;
  return 0;
}
}  // namespace

bool RouteMapCanLayOut() { return true; }

bool RouteMapSvg(const std::string& dot, std::string* svg, std::string* err) {
  std::string errors;
  graphviz_errors = &errors;
  // The library's messages would land on the console between ours.
  agseterrf(KeepGraphvizError);
  agseterr(AGERR);
  GVC_t* context = gvContext();
  Agraph_t* graph = context != nullptr ? agmemread(dot.c_str()) : nullptr;
  bool done = false;
  if (graph != nullptr && gvLayout(context, graph, "dot") == 0) {
    char* data = nullptr;
    unsigned int length = 0;
    if (gvRenderData(context, graph, "svg", &data, &length) == 0 && data != nullptr) {
      svg->assign(data, length);
      done = true;
    }
    gvFreeRenderData(data);
    gvFreeLayout(context, graph);
  }
  if (graph != nullptr) agclose(graph);
  if (context != nullptr) gvFreeContext(context);
  agseterrf(nullptr);
  graphviz_errors = nullptr;
  if (!done) *err = errors.empty() ? "Graphviz could not lay the map out" : errors;
  return done;
}

#else

bool RouteMapCanLayOut() { return false; }

bool RouteMapSvg(const std::string&, std::string*, std::string* err) {
  *err = "this build has no Graphviz library (libgraphviz-dev)";
  return false;
}

#endif

}  // namespace kv
