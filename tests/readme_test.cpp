// The README shows what converting the sample game prints, as it would run in
// a clone at /home/you/KVConverter; this fails when the two drift apart.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "test_support/conversion_harness.h"

namespace kv {
namespace {

std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(Readme, SampleConsoleOutputIsThatOfTheSampleGame) {
  const std::filesystem::path source = std::filesystem::path(KV_SOURCE_DIR) / "examples/sample_game";
  const std::string game = "/home/you/KVConverter/examples/sample_game";
  MemoryFileSystem fs(game);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(source)) {
    if (!entry.is_regular_file()) continue;
    fs.AddFile(game + "/" + entry.path().lexically_relative(source).generic_string(),
               Slurp(entry.path()));
  }
  ConversionRun run = RunConversion(fs);
  ASSERT_EQ(0, run.status) << run.console;
  const std::string readme = Slurp(std::filesystem::path(KV_SOURCE_DIR) / "README.md");
  EXPECT_NE(std::string::npos, readme.find("```\n" + run.console + "```\n")) << run.console;
}

}  // namespace
}  // namespace kv
