#include "platform/tree_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace kv {
namespace {

// A scratch directory on disk: links are what this writer must not follow.
class TreeWriterTest : public ::testing::Test {
 protected:
  TreeWriterTest() {
    char pattern[] = "/tmp/kv-tree-XXXXXX";
    top_ = mkdtemp(pattern);
  }
  ~TreeWriterTest() override { std::system(("rm -rf '" + top_ + "'").c_str()); }

  std::string Read(const std::string& name) {
    std::ifstream in(top_ + "/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool Exists(const std::string& name) {
    struct stat st;
    return lstat((top_ + "/" + name).c_str(), &st) == 0;
  }

  std::string top_;
};

TEST_F(TreeWriterTest, CreatesDirectoriesAndOverwritesOnlyWhenAsked) {
  std::string error;
  auto writer = OpenTreeWriter(top_ + "/out", &error);
  ASSERT_NE(nullptr, writer) << error;
  ASSERT_TRUE(writer->WriteFile({"a", "b", "c.png"}, "one", false, &error)) << error;
  EXPECT_EQ("one", Read("out/a/b/c.png"));
  EXPECT_FALSE(writer->WriteFile({"a", "b", "c.png"}, "two", false, &error));
  EXPECT_EQ("exists (--force overwrites)", error);
  EXPECT_EQ("one", Read("out/a/b/c.png"));
  ASSERT_TRUE(writer->WriteFile({"a", "b", "c.png"}, "two", true, &error)) << error;
  EXPECT_EQ("two", Read("out/a/b/c.png"));
  EXPECT_FALSE(Exists("out/a/b/.c.png.kvdump-" + std::to_string(getpid())));
  EXPECT_EQ(nullptr, OpenTreeWriter(top_ + "/no/such/dir", &error));
}

TEST_F(TreeWriterTest, NeverFollowsLinksBelowTheRoot) {
  ASSERT_EQ(0, mkdir((top_ + "/out").c_str(), 0777));
  ASSERT_EQ(0, mkdir((top_ + "/outside").c_str(), 0777));
  ASSERT_EQ(0, symlink((top_ + "/outside").c_str(), (top_ + "/out/dir").c_str()));
  ASSERT_EQ(0, symlink((top_ + "/outside/victim").c_str(), (top_ + "/out/file").c_str()));
  std::string error;
  auto writer = OpenTreeWriter(top_ + "/out", &error);
  ASSERT_NE(nullptr, writer) << error;
  EXPECT_FALSE(writer->WriteFile({"dir", "x"}, "data", true, &error));
  EXPECT_EQ("\"dir\" is a symbolic link or not a directory", error);
  EXPECT_FALSE(writer->WriteFile({"file"}, "data", false, &error));
  EXPECT_FALSE(writer->WriteFile({"file"}, "data", true, &error));
  EXPECT_EQ("exists and is not a regular file", error);
  EXPECT_FALSE(Exists("outside/x"));
  EXPECT_FALSE(Exists("outside/victim"));
}

}  // namespace
}  // namespace kv
