#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "platform/lexical_path.h"
#include "test_support/memory_file_system.h"

namespace kv {
namespace {

TEST(LexicalAbsolutePath, JoinsAndFoldsWithoutTouchingTheDisk) {
  EXPECT_EQ("/game/a.txt", LexicalAbsolutePath("/game", "a.txt"));
  EXPECT_EQ("/game/sub/a.txt", LexicalAbsolutePath("/game", "./x/../sub//a.txt"));
  EXPECT_EQ("/a.txt", LexicalAbsolutePath("/game", "../../../a.txt"));
  EXPECT_EQ("/abs/b", LexicalAbsolutePath("/game", "/abs/./b"));
  EXPECT_EQ("/game/data/", LexicalAbsolutePath("/game", "data/"));
  EXPECT_EQ("/", LexicalAbsolutePath("", "."));
  EXPECT_EQ("/100%/x", LexicalAbsolutePath("/100%", "x"));
}

TEST(MemoryFileSystem, ListsChildrenInByteOrder) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/b.txt", "");
  fs.AddFile("/game/B.txt", "");
  fs.AddFile("/game/sub/deep/x.png", "");
  std::vector<DirectoryEntry> entries;
  ASSERT_TRUE(fs.ListDirectory("/game/", &entries));
  ASSERT_EQ(3u, entries.size());
  EXPECT_EQ("B.txt", entries[0].name);
  EXPECT_EQ("b.txt", entries[1].name);
  EXPECT_EQ("sub", entries[2].name);
  EXPECT_TRUE(entries[2].is_directory);
  EXPECT_FALSE(fs.ListDirectory("/nowhere/", &entries));
}

class TempDirectory {
 public:
  TempDirectory() {
    char pattern[] = "/tmp/kv-fs-test-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDirectory() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

size_t CountEntries(const std::string& dir) {
  size_t n = 0;
  DIR* d = opendir(dir.c_str());
  while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
  closedir(d);
  return n;
}

TEST(PosixFileSystem, OutputReplacesTheTargetOnlyOnCommit) {
  TempDirectory dir;
  FileSystem& fs = RealFileSystem();
  std::string target = dir.path() + "/out.kvo";
  ASSERT_TRUE(WriteWholeFile(fs, target, "old", nullptr));
  {
    std::unique_ptr<OutputFile> out = fs.CreateOutput(target, nullptr);
    ASSERT_TRUE(out);
    ASSERT_TRUE(out->Write("new but abandoned", 17, nullptr));
  }
  EXPECT_EQ("old", Slurp(target));
  EXPECT_EQ(1u, CountEntries(dir.path())) << "the temporary file must be removed";
  ASSERT_TRUE(WriteWholeFile(fs, target, std::string("a\0b", 3), nullptr));
  EXPECT_EQ(std::string("a\0b", 3), Slurp(target));
  struct stat st;
  ASSERT_EQ(0, stat(target.c_str(), &st));
  EXPECT_NE(0u, st.st_mode & S_IRGRP & ~[] { mode_t m = umask(0); umask(m); return m; }())
      << "outputs get ordinary permissions";
}

TEST(PosixFileSystem, ReplacedOutputsKeepTheirModeAndReadOnlyOnesStay) {
  TempDirectory dir;
  FileSystem& fs = RealFileSystem();
  std::string target = dir.path() + "/out.kvo";
  ASSERT_TRUE(WriteWholeFile(fs, target, "old", nullptr));
  ASSERT_EQ(0, chmod(target.c_str(), 0640));
  ASSERT_TRUE(WriteWholeFile(fs, target, "new", nullptr));
  struct stat st;
  ASSERT_EQ(0, stat(target.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  // Refused by its mode bits, so even a user whom permissions do not bind
  // (root) leaves it alone.
  ASSERT_EQ(0, chmod(target.c_str(), 0444));
  std::string err;
  EXPECT_FALSE(WriteWholeFile(fs, target, "newer", &err));
  EXPECT_EQ("Permission denied", err);
  EXPECT_EQ("new", Slurp(target));
  EXPECT_EQ(1u, CountEntries(dir.path()));
}

TEST(PosixFileSystem, OutputThatCannotBeCreatedOrRenamedLeavesNothing) {
  TempDirectory dir;
  FileSystem& fs = RealFileSystem();
  std::string err;
  EXPECT_FALSE(fs.CreateOutput(dir.path() + "/missing/out.kvo", &err));
  EXPECT_EQ("No such file or directory", err);
  std::string taken = dir.path() + "/taken";
  ASSERT_EQ(0, mkdir((taken).c_str(), 0755));
  ASSERT_EQ(0, mkdir((taken + "/inside").c_str(), 0755));
  EXPECT_FALSE(WriteWholeFile(fs, taken, "x", &err));
  EXPECT_EQ("Is a directory", err);
  EXPECT_EQ(1u, CountEntries(dir.path()));
}

TEST(PosixFileSystem, ListsSortedAndFollowsDirectoryLinks) {
  TempDirectory dir;
  FileSystem& fs = RealFileSystem();
  ASSERT_EQ(0, mkdir((dir.path() + "/sub").c_str(), 0755));
  std::ofstream(dir.path() + "/b.png") << "x";
  std::ofstream(dir.path() + "/A.png") << "x";
  ASSERT_EQ(0, symlink((dir.path() + "/sub").c_str(), (dir.path() + "/link").c_str()));
  std::vector<DirectoryEntry> entries;
  ASSERT_TRUE(fs.ListDirectory(dir.path() + "/", &entries));
  ASSERT_EQ(4u, entries.size());
  EXPECT_EQ("A.png", entries[0].name);
  EXPECT_EQ("link", entries[2].name);
  EXPECT_TRUE(entries[2].is_directory);
  std::string a, b;
  ASSERT_TRUE(fs.DirectoryKey(dir.path() + "/sub/", &a));
  ASSERT_TRUE(fs.DirectoryKey(dir.path() + "/link/", &b));
  EXPECT_EQ(a, b);
}

}  // namespace
}  // namespace kv
