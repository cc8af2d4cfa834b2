#include "platform/tree_writer.h"

#include <gtest/gtest.h>

#include "test_support/temp_directory.h"

namespace kv {
namespace {

TEST(TreeWriterTest, CreatesDirectoriesAndOverwritesOnlyWhenAsked) {
  TempDirectory top;
  std::string error;
  auto writer = OpenTreeWriter(top / "out", &error);
  ASSERT_NE(nullptr, writer) << error;
  ASSERT_TRUE(writer->WriteFile({"a", "b", "c.png"}, "one", false, &error)) << error;
  EXPECT_EQ("one", ReadTestFile(top / "out/a/b/c.png"));
  EXPECT_FALSE(writer->WriteFile({"a", "b", "c.png"}, "two", false, &error));
  EXPECT_EQ("exists (--force overwrites)", error);
  EXPECT_EQ("one", ReadTestFile(top / "out/a/b/c.png"));
  ASSERT_TRUE(writer->WriteFile({"a", "b", "c.png"}, "two", true, &error)) << error;
  EXPECT_EQ("two", ReadTestFile(top / "out/a/b/c.png"));
  EXPECT_EQ(1u, CountEntries(top / "out/a/b")) << "no temporary file is left";
  EXPECT_EQ(nullptr, OpenTreeWriter(top / "no/such/dir", &error));
}

}  // namespace
}  // namespace kv
