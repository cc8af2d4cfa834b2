#include "driver/route_map.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "test_support/conversion_harness.h"

namespace kv {
namespace {

// A map as lines: "FROM -KIND-> TO" (with " [LABEL]" for a branch), then
// "unreachable: ..." when something is.
std::string Routes(const nlohmann::json& map) {
  auto name = [&](const std::string& id) {
    for (const auto& node : map["nodes"]) {
      if (node["id"] != id) continue;
      const std::string kind = node["kind"];
      const std::string text = node["name"];
      if (kind == "start") return text;
      if (kind == "script") return text;
      if (kind == "undefined" || kind == "unknown") return kind + " " + text;
      const std::string file = node["file"];
      if (kind == "end") return file + " end";
      return file + (kind == "function" ? " function " : " ") + text;
    }
    return "?" + id;
  };
  std::string lines;
  for (const auto& edge : map["edges"]) {
    lines += name(edge["from"]) + " -" + edge["kind"].get<std::string>() + "-> " + name(edge["to"]);
    if (edge.contains("label")) lines += " [" + edge["label"].get<std::string>() + "]";
    lines += "\n";
  }
  if (!map["unreachable"].empty()) {
    lines += "unreachable:";
    for (const auto& id : map["unreachable"]) lines += " " + name(id);
    lines += "\n";
  }
  return lines;
}

nlohmann::json MapOf(MemoryFileSystem& fs, ConversionRun* run = nullptr) {
  ConversionRun made = RunConversion(fs, {"--route-map=/game/map.json"});
  if (run != nullptr) *run = made;
  if (!fs.HasFile("/game/map.json")) return nlohmann::json::object();
  return nlohmann::json::parse(fs.FileContents("/game/map.json"));
}

TEST(RouteMap, EveryKindOfRouteWithConditionsAndChoices) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt",
             "create_window;\n"
             "function greet;\n"
             "  if name == \"\";\n"
             "    goto nowhere;\n"
             "  endif;\n"
             "function_end;\n"
             "function_call greet;\n"
             "select \"Left\", \"Right\";\n"
             "if select_result == 1;\n"
             "  goto left;\n"
             "elseif 2 == select_result;\n"
             "  script_load \"scenes/b.txt\";\n"
             "else;\n"
             "  if  count <\n  3;\n"
             "    goto right;\n"
             "  endif;\n"
             "endif;\n"
             "left:\n"
             "goto right;\n"
             "unused:\n"
             "right:\n"
             "script_change \"scenes/a.txt\";\n");
  fs.AddFile("/game/scenes/a.txt", "text \"a\";\n");
  fs.AddFile("/game/scenes/b.txt", "more:\n");
  fs.AddFile("/game/scenes/lost.txt", "lost:\nfunction_call greet;\n");
  ConversionRun run;
  const nlohmann::json map = MapOf(fs, &run);
  EXPECT_EQ(0, run.status) << run.console;
  EXPECT_EQ(
      "start -start-> main.txt\n"
      "main.txt -fall_through-> main.txt left\n"
      "main.txt unused -fall_through-> main.txt right\n"
      "scenes/a.txt -script_end-> scenes/a.txt end\n"
      "scenes/b.txt -fall_through-> scenes/b.txt more\n"
      "scenes/b.txt more -script_end-> scenes/b.txt end\n"
      "scenes/lost.txt -fall_through-> scenes/lost.txt lost\n"
      "scenes/lost.txt lost -script_end-> scenes/lost.txt end\n"
      "main.txt function greet -goto-> undefined nowhere [name == \"\"]\n"
      "main.txt -function_call-> main.txt function greet\n"
      "main.txt -goto-> main.txt left [Left]\n"
      "main.txt -script_load-> scenes/b.txt [Right]\n"
      "main.txt -goto-> main.txt right [else / count < 3]\n"
      "main.txt left -goto-> main.txt right\n"
      "main.txt right -script_change-> scenes/a.txt\n"
      "scenes/lost.txt lost -function_call-> main.txt function greet\n"
      "unreachable: main.txt unused scenes/lost.txt scenes/lost.txt lost\n",
      Routes(map));
  // Places point at the statement that jumps, and at each definition.
  const nlohmann::json& call = map["edges"][9];
  EXPECT_EQ("function_call", call["kind"]);
  EXPECT_EQ("main.txt", call["file"]);
  EXPECT_EQ(7, call["line"]);
  EXPECT_EQ(1, call["column"]);
  for (const auto& node : map["nodes"]) {
    if (node["kind"] == "function") {
      EXPECT_EQ(2, node["line"]);
      EXPECT_EQ(10, node["column"]);
      EXPECT_EQ("n0", node["script"]);
      EXPECT_FALSE(node.contains("path"));
    }
    if (node["id"] == "n0") {
      EXPECT_EQ("/game/main.txt", node["path"]);
    }
  }
  EXPECT_FALSE(map["unknownRoutes"]);
  // A check: no object written.
  EXPECT_FALSE(fs.HasFile("/game/script.kvo"));
}

TEST(RouteMap, ComputedTargetsAndMissingNamesEndTheirRoutes) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt",
             "create_window;\n"
             "string next @ \"b.txt\";\n"
             "script_load next;\n"
             "goto \"x\" ;\n"
             "function_call missing;\n"
             "script_change \"nofile.txt\";\n");
  fs.AddFile("/game/b.txt", "b:\n");
  const nlohmann::json map = MapOf(fs);
  EXPECT_EQ(
      "start -start-> main.txt\n"
      "b.txt -fall_through-> b.txt b\n"
      "b.txt b -script_end-> b.txt end\n"
      "main.txt -script_load-> unknown next\n"
      "main.txt -goto-> unknown \"x\"\n"
      "main.txt -function_call-> undefined missing\n"
      "main.txt -script_change-> undefined nofile.txt\n"
      "unreachable: b.txt b.txt b\n",
      Routes(map));
  EXPECT_TRUE(map["unknownRoutes"]);
}

TEST(RouteMap, DotHasClustersAndListsWhatNoRouteReaches) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt", "create_window;\ngoto \"a\\\"b\";\n");
  fs.AddFile("/game/island.txt", "alone:\n");
  ConversionRun run = RunConversion(fs, {"--route-map=/game/map.DOT"});
  EXPECT_EQ(0, run.status) << run.console;
  const std::string dot = fs.FileContents("/game/map.DOT");
  EXPECT_NE(std::string::npos, dot.find("subgraph cluster_n0 {\n    label=\"main.txt\";")) << dot;
  EXPECT_NE(std::string::npos, dot.find("label=\"unknown\\n\\\"a\\\\\\\"b\\\"\"")) << dot;
  EXPECT_NE(std::string::npos, dot.find("label=\"unreachable:\\lisland.txt\\lisland.txt alone:\\l"))
      << dot;
}

// The writers' own escaping, on names that begin, hold and end with bytes
// to escape, beside names that need none.
TEST(RouteMap, WritersEscapeNamesWhole) {
  RouteMap map;
  map.base = "/game/";
  const std::string_view script = map.paths.emplace_back("/game/main.txt");
  map.nodes.push_back(RouteNode{RouteNode::kScript, script, script, 1, 1, -1, true});
  map.nodes.push_back(RouteNode{RouteNode::kLabel, "\"a\\b\tc\n", script, 12, 3, 0, true});
  map.nodes.push_back(RouteNode{RouteNode::kFunction, "plain", script, 2, 10, 0, false});
  map.edges.push_back(RouteEdge{RouteEdge::kGoto, 0, 1, "x == \"\\\"", script, 1234567, 89});
  const std::string json = RouteMapJson(map, '/');
  EXPECT_NE(std::string::npos,
            json.find("{\"id\": \"n1\", \"kind\": \"label\", \"name\": \"\\\"a\\\\b\\u0009c\\u000a\", "
                      "\"file\": \"main.txt\", \"line\": 12, \"column\": 3, \"script\": \"n0\", "
                      "\"reachable\": true}"))
      << json;
  EXPECT_NE(std::string::npos,
            json.find("{\"from\": \"n0\", \"to\": \"n1\", \"kind\": \"goto\", \"label\": \"x == \\\"\\\\\\\"\", "
                      "\"file\": \"main.txt\", \"line\": 1234567, \"column\": 89}"))
      << json;
  const std::string dot = RouteMapDot(map, '/');
  EXPECT_NE(std::string::npos, dot.find("    n1 [id=\"n1\", label=\"\\\"a\\\\b\tc\\n:\", ")) << dot;
  EXPECT_NE(std::string::npos, dot.find("    n2 [id=\"n2\", label=\"function plain\", ")) << dot;
  EXPECT_NE(std::string::npos, dot.find("  n0 -> n1 [color=black, label=\"x == \\\"\\\\\\\"\"];\n")) << dot;
}

TEST(RouteMap, OptionErrorsAndWriteFailure) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt", "create_window;\n");
  ConversionRun run = RunConversion(fs, {"--route-map=map.png"});
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos,
            run.console.find("エラー : --route-map のファイル名は .dot, .json, .svg のどれかで終わる必要があります \"map.png\"\n"))
      << run.console;
  run = RunConversion(fs, {"--route-map="});
  EXPECT_NE(std::string::npos, run.console.find("オプション \"--route-map=\" に値が指定されていません\n"))
      << run.console;
  // No script converted: the map is written, empty.
  run = RunConversion(fs, {"-s", "--route-map=/game/empty.json"});
  EXPECT_EQ(0, run.status) << run.console;
  EXPECT_EQ("{\n  \"nodes\": [\n  ],\n  \"edges\": [\n  ],\n  \"unreachable\": [],\n  \"unknownRoutes\": false\n}\n",
            fs.FileContents("/game/empty.json"));
  fs.fail_on_commit.insert("/game/map.json");
  run = RunConversion(fs, {"--route-map=/game/map.json"});
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos, run.console.find("エラー : ルートマップ \"/game/map.json\" を書き込めませんでした: "))
      << run.console;
  EXPECT_FALSE(fs.HasFile("/game/map.json"));
}

// The map is made on a second thread while the checks of the whole game run:
// the console stays the check's, with a failed write told after the checks'
// findings, and the map is the same as when nothing fails.
TEST(RouteMap, ConsoleIsTheChecksAndAFailedWriteComesAfterItsFindings) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt", "create_window;\nscript_change \"a.txt\";\n");
  fs.AddFile("/game/a.txt", "top:\ngoto nowhere;\nfunction_call missing;\n");
  const ConversionRun check = RunConversion(fs, {"--check"});
  ConversionRun map = RunConversion(fs, {"--route-map=/game/map.json"});
  EXPECT_EQ(check.console, map.console);
  EXPECT_EQ(check.status, map.status);
  const std::string json = fs.FileContents("/game/map.json");
  EXPECT_NE(std::string::npos, json.find("\"undefined\"")) << json;

  fs.fail_on_write.insert("/game/map.json");
  map = RunConversion(fs, {"--route-map=/game/map.json"});
  EXPECT_EQ(1, map.status);
  const std::string failure = "エラー : ルートマップ \"/game/map.json\" を書き込めませんでした: ";
  const size_t result = check.console.rfind("\n結果 : ");
  ASSERT_NE(std::string::npos, result) << check.console;
  EXPECT_EQ(check.console.substr(0, result), map.console.substr(0, result)) << map.console;
  EXPECT_EQ(result, map.console.find(failure)) << map.console;
  EXPECT_EQ(json, fs.FileContents("/game/map.json"));

  // A flush that fails on the map's thread is told there too, and the older
  // map stays.
  fs.fail_on_write.clear();
  fs.fail_on_flush.insert("/game/map.json");
  map = RunConversion(fs, {"--route-map=/game/map.json"});
  EXPECT_EQ(1, map.status);
  EXPECT_EQ(result, map.console.find(failure)) << map.console;
  EXPECT_EQ(json, fs.FileContents("/game/map.json"));
}

std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The README shows the sample game's map: the DOT text the build makes of it
// now, and the picture laid out from that text.
TEST(RouteMap, TheReadmePictureIsTheSampleGamesMap) {
  const std::filesystem::path examples = std::filesystem::path(KV_SOURCE_DIR) / "examples";
  const std::string game = "/home/you/KVConverter/examples/sample_game";
  MemoryFileSystem fs(game);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(examples / "sample_game")) {
    if (!entry.is_regular_file()) continue;
    fs.AddFile(game + "/" + entry.path().lexically_relative(examples / "sample_game").generic_string(),
               Slurp(entry.path()));
  }
  ConversionRun run = RunConversion(fs, {"--route-map=map.dot"});
  ASSERT_EQ(0, run.status) << run.console;
  const std::string dot = fs.FileContents(game + "/map.dot");
  EXPECT_EQ(Slurp(examples / "sample_game_route_map.dot"), dot);
  const std::string svg = Slurp(examples / "sample_game_route_map.svg");
  size_t nodes = 0;
  for (size_t at = dot.find(" [id=\""); at != std::string::npos; at = dot.find(" [id=\"", at + 1)) {
    const size_t id_end = dot.find('"', at + 6);
    const std::string id = dot.substr(at + 6, id_end - at - 6);
    const size_t label = dot.find("label=\"", id_end) + 7;
    const std::string text = dot.substr(label, dot.find('"', label) - label);
    EXPECT_NE(std::string::npos, svg.find("<g id=\"" + id + "\" class=\"node\">")) << id;
    EXPECT_NE(std::string::npos, svg.find(">" + text + "</text>")) << text;
    ++nodes;
  }
  EXPECT_EQ(6u, nodes);
  EXPECT_NE(std::string::npos, svg.find(">進む</text>"));
}

}  // namespace
}  // namespace kv
