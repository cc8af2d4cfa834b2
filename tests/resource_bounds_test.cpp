// Whole conversions of inputs far larger than any game has: each must end
// with its result, without running out of stack, and within memory that is
// a small multiple of the input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/process.h"
#include "test_support/conversion_harness.h"
#include "test_support/object_check.h"

namespace kv {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMeasureMemory = false;  // the sanitizer keeps freed memory on purpose
#else
constexpr bool kMeasureMemory = true;
#endif

class ResourceBounds : public ::testing::Test {
 protected:
  // The peak is the process's: it says something about this test only when
  // the test runs in a process of its own, as ctest runs each test, or after
  // tests that took little.
  void ExpectPeakBelow(size_t megabytes) {
    if (kMeasureMemory && peak_before_ < 64) {
      EXPECT_LT(PeakResidentMegabytes(), megabytes);
    }
  }

  const size_t peak_before_ = PeakResidentMegabytes();
};

std::vector<std::string> CheckedScripts(MemoryFileSystem& fs) {
  std::vector<std::string> listed;
  std::string problem;
  EXPECT_TRUE(CheckScriptObject(fs.FileContents("/game/script.kvo"), &listed, &problem)) << problem;
  return listed;
}

TEST_F(ResourceBounds, TenMegabyteLine) {
  const size_t n = 10 << 20;
  MemoryFileSystem fs;
  fs.AddFile("/game/main.txt", "create_window;\ntext \"" + std::string(n, 'a') + "\";\n");
  ConversionRun run = RunConversion(fs);
  EXPECT_EQ(run.status, 0) << run.console.substr(0, 2000);
  EXPECT_EQ(CheckedScripts(fs), std::vector<std::string>{"/game/main.txt"});

  // A word that long is cut into words of 511 bytes: far more items than a
  // parameter holds.
  MemoryFileSystem word_fs;
  word_fs.AddFile("/game/main.txt", "create_window;\ntext " + std::string(n, 'b') + ";\n");
  run = RunConversion(word_fs);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.console.find("エラー : /game/main.txt 2 行目 パラメータの項目数が 255 を超えています\n"),
            std::string::npos);
  ExpectPeakBelow(150);  // 10 MB of script in each run
}

TEST_F(ResourceBounds, HundredThousandNestedBracketsAndBlocks) {
  const int n = 100000;
  std::string deep_brackets = "x = " + std::string(n, '(') + "1" + std::string(n, ')') + ";\n";
  std::string deep_signs = "x = " + std::string(n, '-') + "1;\n";
  std::string blocks;
  for (int i = 0; i < n; ++i) blocks += i % 2 ? "if a;\n" : "loop b;\n";
  for (int i = n - 1; i >= 0; --i) blocks += i % 2 ? "endif;\n" : "loop_end;\n";

  MemoryFileSystem fs;
  fs.AddFile("/game/main.txt", "create_window;\n" + deep_brackets + deep_signs);
  ConversionRun run = RunConversion(fs);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.console.find("エラー : /game/main.txt 2 行目 文法が間違っています\n"),
            std::string::npos);

  MemoryFileSystem blocks_fs;
  blocks_fs.AddFile("/game/main.txt", "create_window;\n" + blocks);
  run = RunConversion(blocks_fs);
  EXPECT_EQ(run.status, 0) << run.console.substr(0, 2000);
  CheckedScripts(blocks_fs);
  ExpectPeakBelow(100);
}

TEST_F(ResourceBounds, MillionStatements) {
  std::string script = "create_window;\n";
  for (int i = 0; i < 1000000; ++i) script += "x = x + 1;\n";
  MemoryFileSystem fs;
  fs.AddFile("/game/main.txt", std::move(script));
  ConversionRun run = RunConversion(fs);
  EXPECT_EQ(run.status, 0) << run.console.substr(0, 2000);
  CheckedScripts(fs);
  ExpectPeakBelow(300);  // 11 MB of script, 55 MB of code
}

TEST_F(ResourceBounds, TreeOfHundredThousandFiles) {
  MemoryFileSystem fs;
  fs.AddFile("/game/main.txt", "create_window;\n");
  for (int d = 0; d < 100; ++d) {
    for (int f = 0; f < 1000; ++f) {
      fs.AddFile("/game/d" + std::to_string(d) + "/f" + std::to_string(f) + ".png", "p");
    }
  }
  ConversionRun run = RunConversion(fs, {"-a", "-m"});
  EXPECT_EQ(run.status, 0) << run.console.substr(0, 2000);
  const std::string archive = ReadObject(fs, "/game/image.kvo");
  ASSERT_GT(archive.size(), 11u);
  EXPECT_EQ(archive.substr(7, 4), std::string("\xA0\x86\x01\x00", 4));  // 100000 entries
  ExpectPeakBelow(150);
}

TEST_F(ResourceBounds, DirectoryChainThousandLevelsDeep) {
  MemoryFileSystem fs;
  std::string dir = "/game";
  for (int i = 0; i < 1000; ++i) dir += "/d";
  fs.AddFile("/game/main.txt", "create_window;\nscript_change \"" + dir.substr(6) + "/s.txt\";\n");
  fs.AddFile(dir + "/s.txt", "text \"deep\";\n");
  fs.AddFile(dir + "/a.png", "p");
  ConversionRun run = RunConversion(fs);
  EXPECT_EQ(run.status, 0) << run.console.substr(0, 2000);
  EXPECT_EQ(CheckedScripts(fs), (std::vector<std::string>{dir + "/s.txt", "/game/main.txt"}));
  EXPECT_TRUE(fs.HasFile("/game/image.kvo"));
}

}  // namespace
}  // namespace kv
