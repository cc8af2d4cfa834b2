// The README shows what converting the sample game prints and what kvo_dump
// shows of its script object; both come from a run over the sample game as
// it would stand in a clone at /home/you/KVConverter, and fail here when
// they drift.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
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

TEST(Readme, SampleOutputsAreThoseOfTheSampleGame) {
  const std::filesystem::path source = std::filesystem::path(KV_SOURCE_DIR) / "examples/sample_game";
  const std::string game = "/home/you/KVConverter/examples/sample_game";
  MemoryFileSystem fs(game);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(source)) {
    if (!entry.is_regular_file()) continue;
    fs.AddFile(game + "/" + entry.path().lexically_relative(source).string(), Slurp(entry.path()));
  }
  ConversionRun run = RunConversion(fs);
  ASSERT_EQ(0, run.status) << run.console;
  const std::string readme = Slurp(std::filesystem::path(KV_SOURCE_DIR) / "README.md");
  EXPECT_NE(std::string::npos, readme.find("```\n" + run.console + "```\n")) << run.console;

  char dump_path[] = "/tmp/kv-readme-XXXXXX";
  const int fd = mkstemp(dump_path);
  ASSERT_GE(fd, 0);
  const std::string& object = fs.FileContents(game + "/script.kvo");
  ASSERT_EQ(static_cast<ssize_t>(object.size()), write(fd, object.data(), object.size()));
  close(fd);
  FILE* dump = popen((std::string("'") + KV_DUMP_PATH + "' " + dump_path).c_str(), "r");
  ASSERT_NE(nullptr, dump);
  std::string shown;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, dump)) > 0;) shown.append(buffer, n);
  EXPECT_EQ(0, pclose(dump));
  unlink(dump_path);
  EXPECT_NE(std::string::npos, readme.find("```\n" + shown + "```\n")) << shown;
}

}  // namespace
}  // namespace kv
