// The route map's outputs: DOT text, JSON, and SVG laid out by Graphviz's
// library where the build has it.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <unordered_map>
#include <vector>
#include <string>

#include "driver/route_map.h"
#include "context/kc_system.h"
#include "platform/console.h"
#include "platform/file_system.h"

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

std::string NodeId(size_t index) { return "n" + std::to_string(index); }

// The text a node shows.
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

bool WriteRouteMap(KCSystem& sys, const RouteMap& map) {
  const std::string& name = sys.options.routeMapPath;
  const char separator = sys.fs.Separator();
  std::string text, err;
  bool made = true;
  switch (RouteMapFormatOf(name)) {
    case RouteMapFormat::kJson: text = RouteMapJson(map, separator); break;
    case RouteMapFormat::kSvg: made = RouteMapSvg(RouteMapDot(map, separator), &text, &err); break;
    default: text = RouteMapDot(map, separator); break;
  }
  if (made) {
    std::unique_ptr<OutputFile> out = sys.fs.CreateOutput(name, &err);
    made = out != nullptr && out->Write(text.data(), text.size(), &err) && out->Commit(&err);
  }
  if (!made) sys.log.Error(kMsgRouteMapNotWritten, {LogArg::Path(name), LogArg::Path(err)});
  return made;
}

std::string RouteMapDot(const RouteMap& map, char separator) {
  ShownNames shown(map, separator);
  std::string dot =
      "digraph route_map {\n"
      "  graph [charset=\"UTF-8\", rankdir=TB, fontname=\"sans-serif\", compound=true];\n"
      "  node [fontname=\"sans-serif\", fontsize=11];\n"
      "  edge [fontname=\"sans-serif\", fontsize=9];\n";
  dot.reserve(map.nodes.size() * 96 + map.edges.size() * 48);
  auto write_node = [&](size_t i, const char* indent) {
    const RouteNode& node = map.nodes[i];
    const std::string id = NodeId(i);
    dot.append(indent).append(id).append(" [id=");
    PutDotQuoted(&dot, id);
    dot.append(", label=");
    PutDotQuoted(&dot, NodeText(node, shown));
    dot.append(", ").append(NodeAttributes(node)).append("];\n");
  };
  // The nodes of each script's cluster, in node order.
  std::vector<std::vector<size_t>> members(map.nodes.size());
  for (size_t i = 0; i < map.nodes.size(); ++i) {
    if (map.nodes[i].cluster >= 0) members[static_cast<size_t>(map.nodes[i].cluster)].push_back(i);
  }
  for (size_t i = 0; i < map.nodes.size(); ++i) {
    const RouteNode& node = map.nodes[i];
    if (node.kind != RouteNode::kScript) continue;
    dot.append("  subgraph cluster_").append(NodeId(i)).append(" {\n    label=");
    PutDotQuoted(&dot, shown.Of(node.script));
    dot += ";\n";
    dot += node.reached ? "    style=rounded; color=gray60;\n"
                        : "    style=\"rounded,dashed,filled\"; color=gray60; fillcolor=\"#f0f0f0\";\n";
    for (size_t k : members[i]) write_node(k, "    ");
    dot += "  }\n";
  }
  for (size_t i = 0; i < map.nodes.size(); ++i) {
    if (map.nodes[i].cluster < 0) write_node(i, "  ");
  }
  for (const RouteEdge& edge : map.edges) {
    dot.append("  ").append(NodeId(edge.from)).append(" -> ").append(NodeId(edge.to)).append(" [");
    dot.append(EdgeAttributes(edge.kind));
    if (!edge.label.empty()) {
      dot.append(", label=");
      PutDotQuoted(&dot, Cp932ToUtf8(edge.label));
    }
    dot += "];\n";
  }
  if (!map.unreached.empty() || map.has_unknown) {
    // What no route reaches, listed beside the picture, one left-aligned
    // line each.
    std::string list;
    if (!map.unreached.empty()) {
      list = "unreachable:\n";
      for (size_t i : map.unreached) {
        const RouteNode& node = map.nodes[i];
        list += shown.Of(node.script);
        if (node.kind != RouteNode::kScript) list.append(" ").append(NodeText(node, shown));
        list += '\n';
      }
    }
    if (map.has_unknown) list += "routes to computed targets are unknown\n";
    dot += "  unreachable_list [id=\"unreachable\", shape=note, fontcolor=gray30, label=\"";
    for (char c : list) {
      if (c == '\n') {
        dot += "\\l";
      } else {
        if (c == '"' || c == '\\') dot += '\\';
        dot += c;
      }
    }
    dot += "\"];\n";
  }
  dot += "}\n";
  return dot;
}

std::string RouteMapJson(const RouteMap& map, char separator) {
  ShownNames shown(map, separator);
  std::string json = "{\n  \"nodes\": [";
  json.reserve(map.nodes.size() * 160 + map.edges.size() * 112);
  auto put_number = [&](const char* key, int64_t value) {
    json.append(", \"").append(key).append("\": ").append(std::to_string(value));
  };
  for (size_t i = 0; i < map.nodes.size(); ++i) {
    const RouteNode& node = map.nodes[i];
    json += i == 0 ? "\n    " : ",\n    ";
    json += "{\"id\": ";
    PutJsonQuoted(&json, NodeId(i));
    json += ", \"kind\": ";
    PutJsonQuoted(&json, RouteNodeKindName(node.kind));
    json += ", \"name\": ";
    const bool own_name = node.kind == RouteNode::kScript || node.kind == RouteNode::kStart ||
                          node.kind == RouteNode::kEnd;
    PutJsonQuoted(&json, own_name ? NodeText(node, shown) : Cp932ToUtf8(node.name));
    if (!node.script.empty()) {
      json += ", \"file\": ";
      PutJsonQuoted(&json, shown.Of(node.script));
      // The absolute path once per script: the other nodes name their
      // script's node.
      if (node.kind == RouteNode::kScript) {
        json += ", \"path\": ";
        PutJsonQuoted(&json, Cp932ToUtf8(node.script));
      }
      put_number("line", node.line);
      put_number("column", node.column);
    }
    if (node.cluster >= 0) {
      json += ", \"script\": ";
      PutJsonQuoted(&json, NodeId(static_cast<size_t>(node.cluster)));
    }
    json += node.reached ? ", \"reachable\": true}" : ", \"reachable\": false}";
  }
  json += "\n  ],\n  \"edges\": [";
  for (size_t i = 0; i < map.edges.size(); ++i) {
    const RouteEdge& edge = map.edges[i];
    json += i == 0 ? "\n    " : ",\n    ";
    json += "{\"from\": ";
    PutJsonQuoted(&json, NodeId(edge.from));
    json += ", \"to\": ";
    PutJsonQuoted(&json, NodeId(edge.to));
    json += ", \"kind\": ";
    PutJsonQuoted(&json, RouteEdgeKindName(edge.kind));
    if (!edge.label.empty()) {
      json += ", \"label\": ";
      PutJsonQuoted(&json, Cp932ToUtf8(edge.label));
    }
    json += ", \"file\": ";
    PutJsonQuoted(&json, shown.Of(edge.script));
    put_number("line", edge.line);
    put_number("column", edge.column);
    json += "}";
  }
  json += "\n  ],\n  \"unreachable\": [";
  for (size_t i = 0; i < map.unreached.size(); ++i) {
    if (i != 0) json += ", ";
    PutJsonQuoted(&json, NodeId(map.unreached[i]));
  }
  json += map.has_unknown ? "],\n  \"unknownRoutes\": true\n}\n" : "],\n  \"unknownRoutes\": false\n}\n";
  return json;
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
