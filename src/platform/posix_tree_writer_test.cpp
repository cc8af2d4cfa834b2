#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/tree_writer.h"
#include "test_support/temp_directory.h"

namespace kv {
namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

TEST(TreeWriterTest, NeverFollowsLinksBelowTheRoot) {
  TempDirectory top;
  ASSERT_EQ(0, mkdir((top / "out").c_str(), 0777));
  ASSERT_EQ(0, mkdir((top / "outside").c_str(), 0777));
  ASSERT_EQ(0, symlink((top / "outside").c_str(), (top / "out/dir").c_str()));
  ASSERT_EQ(0, symlink((top / "outside/victim").c_str(), (top / "out/file").c_str()));
  std::string error;
  auto writer = OpenTreeWriter(top / "out", &error);
  ASSERT_NE(nullptr, writer) << error;
  EXPECT_FALSE(writer->WriteFile({"dir", "x"}, "data", true, &error));
  EXPECT_EQ("\"dir\" is a symbolic link or not a directory", error);
  EXPECT_FALSE(writer->WriteFile({"file"}, "data", false, &error));
  EXPECT_FALSE(writer->WriteFile({"file"}, "data", true, &error));
  EXPECT_EQ("exists and is not a regular file", error);
  EXPECT_FALSE(Exists(top / "outside/x"));
  EXPECT_FALSE(Exists(top / "outside/victim"));
}

}  // namespace
}  // namespace kv
