// The route map's outputs: DOT text, JSON, and SVG laid out by Graphviz's
// library where the build has it.
#include <algorithm>
#include <cstdio>
#include <memory>
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

std::string DotQuoted(std::string_view utf8) {
  std::string quoted = "\"";
  for (char c : utf8) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (c == '\n') {
      quoted += "\\n";
    } else {
      quoted += c;
    }
  }
  return quoted + '"';
}

std::string JsonQuoted(std::string_view utf8) {
  std::string quoted = "\"";
  for (char c : utf8) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (u < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", u);
      quoted += escape;
    } else {
      quoted += c;
    }
  }
  return quoted + '"';
}

constexpr std::string_view kMsgRouteMapNotWritten = "ルートマップ \"%s\" を書き込めませんでした: %s\n";

std::string NodeId(size_t index) { return "n" + std::to_string(index); }

// The text a node shows.
std::string NodeText(const RouteNode& node, const RouteMap& map, char separator) {
  switch (node.kind) {
    case RouteNode::kStart: return "start";
    case RouteNode::kScript: return Shown(node.script, map.base, separator);
    case RouteNode::kLabel: return Cp932ToUtf8(node.name) + ":";
    case RouteNode::kFunction: return "function " + Cp932ToUtf8(node.name);
    case RouteNode::kEnd: return "end";
    case RouteNode::kUndefined: return "undefined\n" + Cp932ToUtf8(node.name);
    case RouteNode::kUnknown: return "unknown\n" + Cp932ToUtf8(node.name);
  }
  return "";
}

std::string NodeAttributes(const RouteNode& node) {
  std::string shape;
  switch (node.kind) {
    case RouteNode::kStart:
      return "shape=circle, style=filled, fillcolor=\"#2e7d32\", fontcolor=white";
    case RouteNode::kScript: shape = "shape=folder"; break;
    case RouteNode::kLabel: shape = "shape=box, style=\"rounded,filled\""; break;
    case RouteNode::kFunction: shape = "shape=component, style=filled"; break;
    case RouteNode::kEnd: shape = "shape=doublecircle, fontsize=9, margin=0"; break;
    case RouteNode::kUndefined:
      return "shape=octagon, color=red, fontcolor=red, style=filled, fillcolor=\"#ffebee\"";
    case RouteNode::kUnknown:
      return "shape=diamond, color=orange, fontcolor=\"#e65100\"";
  }
  if (node.kind == RouteNode::kScript || node.kind == RouteNode::kEnd) {
    if (!node.reached) return shape + ", style=\"dashed,filled\", fillcolor=lightgrey, color=gray50, fontcolor=gray40";
    return shape;
  }
  if (!node.reached) return shape + ", style=\"rounded,filled,dashed\", fillcolor=lightgrey, color=gray50, fontcolor=gray40";
  return shape + ", fillcolor=white";
}

std::string EdgeAttributes(RouteEdge::Kind kind) {
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
  std::string dot =
      "digraph route_map {\n"
      "  graph [charset=\"UTF-8\", rankdir=TB, fontname=\"sans-serif\", compound=true];\n"
      "  node [fontname=\"sans-serif\", fontsize=11];\n"
      "  edge [fontname=\"sans-serif\", fontsize=9];\n";
  auto write_node = [&](size_t i, const char* indent) {
    const RouteNode& node = map.nodes[i];
    dot += indent + NodeId(i) + " [id=" + DotQuoted(NodeId(i)) +
           ", label=" + DotQuoted(NodeText(node, map, separator)) + ", " + NodeAttributes(node) +
           "];\n";
  };
  for (size_t i = 0; i < map.nodes.size(); ++i) {
    const RouteNode& node = map.nodes[i];
    if (node.kind != RouteNode::kScript) continue;
    dot += "  subgraph cluster_" + NodeId(i) + " {\n    label=" +
           DotQuoted(Shown(node.script, map.base, separator)) + ";\n";
    dot += node.reached ? "    style=rounded; color=gray60;\n"
                        : "    style=\"rounded,dashed,filled\"; color=gray60; fillcolor=\"#f0f0f0\";\n";
    for (size_t k = 0; k < map.nodes.size(); ++k) {
      if (map.nodes[k].cluster == static_cast<int32_t>(i)) write_node(k, "    ");
    }
    dot += "  }\n";
  }
  for (size_t i = 0; i < map.nodes.size(); ++i) {
    if (map.nodes[i].cluster < 0) write_node(i, "  ");
  }
  for (const RouteEdge& edge : map.edges) {
    dot += "  " + NodeId(edge.from) + " -> " + NodeId(edge.to) + " [" + EdgeAttributes(edge.kind);
    if (!edge.label.empty()) dot += ", label=" + DotQuoted(Cp932ToUtf8(edge.label));
    dot += "];\n";
  }
  if (!map.unreached.empty() || map.has_unknown) {
    // What no route reaches, listed beside the picture.
    std::string list;
    if (!map.unreached.empty()) {
      list = "unreachable:\n";
      for (size_t i : map.unreached) {
        const RouteNode& node = map.nodes[i];
        list += node.kind == RouteNode::kScript
                    ? Shown(node.script, map.base, separator)
                    : Shown(node.script, map.base, separator) + " " + NodeText(node, map, separator);
        list += '\n';
      }
    }
    if (map.has_unknown) list += "routes to computed targets are unknown\n";
    std::string left;
    for (char c : list) left += c == '\n' ? std::string("\\l") : std::string(1, c);
    std::string quoted = "\"";
    for (size_t k = 0; k < left.size(); ++k) {
      if (left[k] == '"') quoted += "\\\"";
      else quoted += left[k];
    }
    dot += "  unreachable_list [id=\"unreachable\", shape=note, fontcolor=gray30, label=" + quoted +
           "\"];\n";
  }
  dot += "}\n";
  return dot;
}

std::string RouteMapJson(const RouteMap& map, char separator) {
  std::string json = "{\n  \"nodes\": [";
  for (size_t i = 0; i < map.nodes.size(); ++i) {
    const RouteNode& node = map.nodes[i];
    json += i == 0 ? "\n    " : ",\n    ";
    json += "{\"id\": " + JsonQuoted(NodeId(i)) + ", \"kind\": " +
            JsonQuoted(RouteNodeKindName(node.kind)) + ", \"name\": " +
            JsonQuoted(node.kind == RouteNode::kScript || node.kind == RouteNode::kStart ||
                               node.kind == RouteNode::kEnd
                           ? NodeText(node, map, separator)
                           : Cp932ToUtf8(node.name));
    if (!node.script.empty()) {
      json += ", \"file\": " + JsonQuoted(Shown(node.script, map.base, separator)) +
              ", \"path\": " + JsonQuoted(Cp932ToUtf8(node.script)) +
              ", \"line\": " + std::to_string(node.line) +
              ", \"column\": " + std::to_string(node.column);
    }
    if (node.cluster >= 0) json += ", \"script\": " + JsonQuoted(NodeId(static_cast<size_t>(node.cluster)));
    json += std::string(", \"reachable\": ") + (node.reached ? "true" : "false") + "}";
  }
  json += "\n  ],\n  \"edges\": [";
  for (size_t i = 0; i < map.edges.size(); ++i) {
    const RouteEdge& edge = map.edges[i];
    json += i == 0 ? "\n    " : ",\n    ";
    json += "{\"from\": " + JsonQuoted(NodeId(edge.from)) + ", \"to\": " + JsonQuoted(NodeId(edge.to)) +
            ", \"kind\": " + JsonQuoted(RouteEdgeKindName(edge.kind));
    if (!edge.label.empty()) json += ", \"label\": " + JsonQuoted(Cp932ToUtf8(edge.label));
    json += ", \"file\": " + JsonQuoted(Shown(edge.script, map.base, separator)) +
            ", \"line\": " + std::to_string(edge.line) + ", \"column\": " + std::to_string(edge.column) +
            "}";
  }
  json += "\n  ],\n  \"unreachable\": [";
  for (size_t i = 0; i < map.unreached.size(); ++i) {
    if (i != 0) json += ", ";
    json += JsonQuoted(NodeId(map.unreached[i]));
  }
  json += std::string("],\n  \"unknownRoutes\": ") + (map.has_unknown ? "true" : "false") + "\n}\n";
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
