// Whole conversions of inputs that the fuzz targets found mishandled; each
// test is named after what it caught, and its input is in fuzz/corpus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support/conversion_harness.h"
#include "test_support/object_check.h"

namespace kv {
namespace {

// The object a run without errors wrote, checked whole.
void ExpectSoundObject(MemoryFileSystem& fs, const std::vector<std::string>& scripts) {
  std::vector<std::string> listed;
  std::string problem;
  EXPECT_TRUE(CheckScriptObject(fs.FileContents("/game/script.kvo"), &listed, &problem)) << problem;
  EXPECT_EQ(listed, scripts);
}

TEST(FuzzFindings, LabelHoldingAZeroByteIsWrittenWhole) {
  // A word runs on over a zero byte; the header wrote such a label's name
  // only up to the zero byte although its length field counted all of it.
  MemoryFileSystem fs;
  const std::string label("label_\x01\x00zero", 12);
  fs.AddFile("/game/main.txt", "create_window;\n" + label + ":\ntext \"a\";\n");
  ConversionRun run = RunConversion(fs);
  ASSERT_EQ(run.status, 0) << run.console;
  ExpectSoundObject(fs, {"/game/main.txt"});
  const std::string image = ReadObject(fs, "/game/script.kvo");
  EXPECT_NE(image.find(std::string("\x0c\0\0\0", 4) + label + "\x0e\0\0\0/game/main.txt"),
            std::string::npos);
}

}  // namespace
}  // namespace kv
