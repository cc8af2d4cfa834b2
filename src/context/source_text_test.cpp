#include "context/source_text.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support/memory_file_system.h"

namespace kv {
namespace {

// The text behind the line the reader stands in goes a MiB or more at a
// time, never the line itself: the places of the statement being read stay
// as they were.
TEST(SourceText, DiscardsOnlyWholeLinesBehindTheReader) {
  MemoryFileSystem fs{"/game"};
  std::string text;
  const std::string line = std::string(99, 'x') + '\n';
  while (text.size() < (size_t{3} << 20)) text += line;
  const uint32_t last_line_start = static_cast<uint32_t>(text.size());
  text += "  last statement;";
  fs.AddFile("/game/f.txt", text);
  SourceText source(fs);
  ASSERT_TRUE(source.FileOpen("/game/f.txt", ModeRead));

  source.position = 1000;
  source.DiscardTextBehind();
  EXPECT_EQ(source.discardedTo, 0u) << "less than a step read";

  const int32_t last_line = static_cast<int32_t>(last_line_start / line.size()) + 1;
  source.position = last_line_start + 2;
  source.line = last_line;
  source.DiscardTextBehind();
  EXPECT_EQ(source.discardedTo, last_line_start);
  EXPECT_EQ(source.LineAt(last_line_start + 7), last_line);
  EXPECT_EQ(source.ColumnAt(last_line_start + 7), 8);
  EXPECT_EQ(source.contents.substr(last_line_start, 17), "  last statement;");
}

}  // namespace
}  // namespace kv
