// The route map's outputs: DOT text, JSON, and SVG laid out by Graphviz's
// library where the build has it.
#include <algorithm>
#include <charconv>
#include <cstdio>
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

// Appends `utf8` as a DOT string.
void PutDotQuoted(std::string* out, std::string_view utf8) {
  out->push_back('"');
  for (char c : utf8) {
    if (c == '"' || c == '\\') {
      out->push_back('\\');
      out->push_back(c);
    } else if (c == '\n') {
      out->append("\\n");
    } else {
      out->push_back(c);
    }
  }
  out->push_back('"');
}

// Appends `utf8` as a JSON string.
void PutJsonQuoted(std::string* out, std::string_view utf8) {
  out->push_back('"');
  for (char c : utf8) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out->push_back('\\');
      out->push_back(c);
    } else if (u < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", u);
      out->append(escape);
    } else {
      out->push_back(c);
    }
  }
  out->push_back('"');
}

// The same for CP932 text: most names are ASCII, whose bytes are their UTF-8
// form, and need no converted copy.
void PutDotQuotedCp932(std::string* out, std::string_view cp932) {
  if (IsAscii(cp932)) {
    PutDotQuoted(out, cp932);
  } else {
    PutDotQuoted(out, Cp932ToUtf8(cp932));
  }
}
void PutJsonQuotedCp932(std::string* out, std::string_view cp932) {
  if (IsAscii(cp932)) {
    PutJsonQuoted(out, cp932);
  } else {
    PutJsonQuoted(out, Cp932ToUtf8(cp932));
  }
}

void PutNumber(std::string* out, int64_t value) {
  char digits[24];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  out->append(digits, static_cast<size_t>(end - digits));
}

// A node's id, "n" and its index; quoted, "\"n12\"".
void PutNodeId(std::string* out, size_t index) {
  out->push_back('n');
  PutNumber(out, static_cast<int64_t>(index));
}
void PutQuotedNodeId(std::string* out, size_t index) {
  out->push_back('"');
  PutNodeId(out, index);
  out->push_back('"');
}

// The text of a map as it is made: kept whole, or handed on in pieces of
// about kPiece bytes so that the text of a large map is never all in memory.
class MapText {
 public:
  using Sink = std::function<bool(std::string_view)>;
  explicit MapText(Sink sink = nullptr) : sink_(std::move(sink)) {
    if (sink_) text_.reserve(kPiece + kPiece / 4);
  }
  std::string* text() { return &text_; }
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
  static constexpr size_t kPiece = size_t{1} << 20;
  void Hand() {
    if (ok_ && !text_.empty()) ok_ = sink_(text_);
    text_.clear();
  }
  Sink sink_;
  std::string text_;
  bool ok_ = true;
};

// The shown name of each script path, made once per script.
class ShownNames {
 public:
  ShownNames(const RouteMap& map, char separator) : map_(map), separator_(separator) {}
  const std::string& Of(std::string_view path) {
    if (last_ != nullptr && last_key_.data() == path.data() && last_key_.size() == path.size())
      return *last_;
    auto [it, added] = names_.try_emplace(path);
    if (added) it->second = Shown(path, map_.base, separator_);
    last_key_ = path;
    last_ = &it->second;
    return it->second;
  }

 private:
  const RouteMap& map_;
  char separator_;
  std::unordered_map<std::string_view, std::string> names_;
  std::string_view last_key_;
  const std::string* last_ = nullptr;
};

constexpr std::string_view kMsgRouteMapNotWritten = "ルートマップ \"%s\" を書き込めませんでした: %s\n";

// Appends the text a node shows, as a DOT or JSON string.
template <void (*Put)(std::string*, std::string_view)>
void PutNodeText(std::string* out, const RouteNode& node, ShownNames& shown) {
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
  std::string& dot = *text.text();
  dot +=
      "digraph route_map {\n"
      "  graph [charset=\"UTF-8\", rankdir=TB, fontname=\"sans-serif\", compound=true];\n"
      "  node [fontname=\"sans-serif\", fontsize=11];\n"
      "  edge [fontname=\"sans-serif\", fontsize=9];\n";
  auto write_node = [&](size_t i, std::string_view indent) {
    const RouteNode& node = map.nodes[i];
    dot.append(indent);
    PutNodeId(&dot, i);
    dot.append(" [id=");
    PutQuotedNodeId(&dot, i);
    dot.append(", label=");
    PutNodeText<PutDotQuoted>(&dot, node, shown);
    dot.append(", ").append(NodeAttributes(node)).append("];\n");
    text.Piece();
  };
  // The nodes of each script's cluster, in node order: those of cluster c
  // are members[first[c]] up to members[first[c + 1]] (two arrays, rather
  // than a list for every node of which a few hundred have members).
  std::vector<size_t> first(map.nodes.size() + 1, 0), members;
  for (const RouteNode& node : map.nodes) {
    if (node.cluster >= 0) ++first[static_cast<size_t>(node.cluster) + 1];
  }
  for (size_t c = 1; c < first.size(); ++c) first[c] += first[c - 1];
  members.resize(first.back());
  {
    std::vector<size_t> fill(first.begin(), first.end() - 1);
    for (size_t i = 0; i < map.nodes.size(); ++i) {
      const int32_t cluster = map.nodes[i].cluster;
      if (cluster >= 0) members[fill[static_cast<size_t>(cluster)]++] = i;
    }
  }
  for (size_t i = 0; i < map.nodes.size(); ++i) {
    const RouteNode& node = map.nodes[i];
    if (node.kind != RouteNode::kScript) continue;
    dot.append("  subgraph cluster_");
    PutNodeId(&dot, i);
    dot.append(" {\n    label=");
    PutDotQuoted(&dot, shown.Of(node.script));
    dot += ";\n";
    dot += node.reached ? "    style=rounded; color=gray60;\n"
                        : "    style=\"rounded,dashed,filled\"; color=gray60; fillcolor=\"#f0f0f0\";\n";
    for (size_t k = first[i]; k < first[i + 1]; ++k) write_node(members[k], "    ");
    dot += "  }\n";
  }
  first = {};
  members = {};
  for (size_t i = 0; i < map.nodes.size(); ++i) {
    if (map.nodes[i].cluster < 0) write_node(i, "  ");
  }
  for (const RouteEdge& edge : map.edges) {
    dot.append("  ");
    PutNodeId(&dot, edge.from);
    dot.append(" -> ");
    PutNodeId(&dot, edge.to);
    dot.append(" [");
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

void MakeJson(const RouteMap& map, char separator, MapText& text) {
  ShownNames shown(map, separator);
  std::string& json = *text.text();
  json += "{\n  \"nodes\": [";
  auto put_number = [&](std::string_view key, int64_t value) {
    json.append(", \"").append(key).append("\": ");
    PutNumber(&json, value);
  };
  for (size_t i = 0; i < map.nodes.size(); ++i) {
    const RouteNode& node = map.nodes[i];
    json += i == 0 ? "\n    " : ",\n    ";
    json += "{\"id\": ";
    PutQuotedNodeId(&json, i);
    json += ", \"kind\": ";
    PutJsonQuoted(&json, RouteNodeKindName(node.kind));
    json += ", \"name\": ";
    const bool own_name = node.kind == RouteNode::kScript || node.kind == RouteNode::kStart ||
                          node.kind == RouteNode::kEnd;
    if (own_name) {
      PutNodeText<PutJsonQuoted>(&json, node, shown);
    } else {
      PutJsonQuotedCp932(&json, node.name);
    }
    if (!node.script.empty()) {
      json += ", \"file\": ";
      PutJsonQuoted(&json, shown.Of(node.script));
      // The absolute path once per script: the other nodes name their
      // script's node.
      if (node.kind == RouteNode::kScript) {
        json += ", \"path\": ";
        PutJsonQuotedCp932(&json, node.script);
      }
      put_number("line", node.line);
      put_number("column", node.column);
    }
    if (node.cluster >= 0) {
      json += ", \"script\": ";
      PutQuotedNodeId(&json, static_cast<size_t>(node.cluster));
    }
    json += node.reached ? ", \"reachable\": true}" : ", \"reachable\": false}";
    text.Piece();
  }
  json += "\n  ],\n  \"edges\": [";
  for (size_t i = 0; i < map.edges.size(); ++i) {
    const RouteEdge& edge = map.edges[i];
    json += i == 0 ? "\n    " : ",\n    ";
    json += "{\"from\": ";
    PutQuotedNodeId(&json, edge.from);
    json += ", \"to\": ";
    PutQuotedNodeId(&json, edge.to);
    json += ", \"kind\": ";
    PutJsonQuoted(&json, RouteEdgeKindName(edge.kind));
    if (!edge.label.empty()) {
      json += ", \"label\": ";
      PutJsonQuotedCp932(&json, edge.label);
    }
    json += ", \"file\": ";
    PutJsonQuoted(&json, shown.Of(edge.script));
    put_number("line", edge.line);
    put_number("column", edge.column);
    json += "}";
    text.Piece();
  }
  json += "\n  ],\n  \"unreachable\": [";
  for (size_t i = 0; i < map.unreached.size(); ++i) {
    if (i != 0) json += ", ";
    PutQuotedNodeId(&json, map.unreached[i]);
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
  return std::move(*text.text());
}

std::string RouteMapJson(const RouteMap& map, char separator) {
  MapText text;
  MakeJson(map, separator, text);
  return std::move(*text.text());
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
