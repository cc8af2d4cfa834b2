#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "test_support/memory_file_system.h"
#include "workspace/game_analysis.h"

namespace kv {
namespace {

// The map follows the editor's unsaved text, not the file on disk.
TEST(RouteMapAnalysis, MapsTheTextsTheEditorHolds) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt", "create_window;\nscript_change \"a.txt\";\n");
  fs.AddFile("/game/a.txt", "here:\n");
  GameAnalysis analysis(fs);
  analysis.Configure({{"/game"}, SourceEncoding::kCp932});
  analysis.Analyse();
  auto edges_of = [&] {
    const nlohmann::json map = nlohmann::json::parse(analysis.RouteMapJson());
    std::string kinds;
    for (const auto& edge : map["edges"]) kinds += edge["kind"].get<std::string>() + " ";
    return kinds + std::to_string(map["unreachable"].size());
  };
  EXPECT_EQ("start fall_through script_end script_change 0", edges_of());
  analysis.SetDocument("/game/main.txt", DocumentText::FromCp932("create_window;\n"));
  analysis.Analyse();
  EXPECT_EQ("start script_end fall_through script_end 2", edges_of());
}

}  // namespace
}  // namespace kv
