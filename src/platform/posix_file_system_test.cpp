#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "test_support/temp_directory.h"

namespace kv {
namespace {

TEST(PosixFileSystem, OutputsGetOrdinaryPermissions) {
  TempDirectory dir;
  std::string target = dir / "out.kvo";
  ASSERT_TRUE(WriteWholeFile(RealFileSystem(), target, "x", nullptr));
  struct stat st;
  ASSERT_EQ(0, stat(target.c_str(), &st));
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_NE(0u, st.st_mode & S_IRGRP & ~mask);
}

TEST(PosixFileSystem, ReplacedOutputsKeepTheirModeAndReadOnlyOnesStay) {
  TempDirectory dir;
  FileSystem& fs = RealFileSystem();
  std::string target = dir / "out.kvo";
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
  EXPECT_EQ("new", ReadTestFile(target));
  EXPECT_EQ(1u, CountEntries(dir.path()));
}

TEST(PosixFileSystem, ReasonsAreWordedByTheCLibrary) {
  TempDirectory dir;
  FileSystem& fs = RealFileSystem();
  std::string err;
  EXPECT_FALSE(fs.CreateOutput(dir / "missing/out.kvo", &err));
  EXPECT_EQ("No such file or directory", err);
  ASSERT_EQ(0, mkdir((dir / "taken").c_str(), 0755));
  EXPECT_FALSE(WriteWholeFile(fs, dir / "taken", "x", &err));
  EXPECT_EQ("Is a directory", err);
}

TEST(PosixFileSystem, ReadsRegularFilesOnlyAndNoMoreThanTheirSizeAtOpening) {
  // Opening a FIFO for reading would wait for a writer: a hang fails here.
  alarm(60);
  TempDirectory dir;
  FileSystem& fs = RealFileSystem();
  ASSERT_EQ(0, mkfifo((dir / "fifo.txt").c_str(), 0600));
  ASSERT_EQ(0, symlink("/dev/zero", (dir / "zero.txt").c_str()));
  ASSERT_EQ(0, symlink((dir / "gone").c_str(), (dir / "dangling.txt").c_str()));
  WriteTestFile(dir / "plain.txt", "x");
  std::vector<DirectoryEntry> entries;
  ASSERT_TRUE(fs.ListDirectory(dir.path() + "/", &entries));
  ASSERT_EQ(4u, entries.size());
  EXPECT_EQ("dangling.txt", entries[0].name);
  EXPECT_FALSE(entries[0].is_special) << "a vanished file, as the search finds out";
  EXPECT_TRUE(entries[1].is_special);
  EXPECT_FALSE(entries[2].is_special);
  EXPECT_TRUE(entries[3].is_special);

  std::string contents, err;
  for (const std::string& path : {dir / "fifo.txt", dir / "zero.txt", std::string("/dev/null")}) {
    EXPECT_FALSE(fs.OpenInput(path, &err)) << path;
    EXPECT_EQ("Not a regular file", err);
    EXPECT_FALSE(fs.ReadFile(path, &contents, &err)) << path;
    EXPECT_EQ("Not a regular file", err);
  }
  EXPECT_FALSE(fs.ReadFile(dir.path(), &contents, &err));
  EXPECT_EQ("Is a directory", err);
  // The kernel's files say they are empty, whatever they hold.
  EXPECT_FALSE(fs.ReadFile("/proc/self/status", &contents, &err));
  EXPECT_EQ("File changed size while being read", err);
  alarm(0);
}

TEST(PosixFileSystem, FollowsDirectoryLinks) {
  TempDirectory dir;
  FileSystem& fs = RealFileSystem();
  ASSERT_EQ(0, mkdir((dir / "sub").c_str(), 0755));
  ASSERT_EQ(0, symlink((dir / "sub").c_str(), (dir / "link").c_str()));
  std::vector<DirectoryEntry> entries;
  ASSERT_TRUE(fs.ListDirectory(dir.path() + "/", &entries));
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ("link", entries[0].name);
  EXPECT_TRUE(entries[0].is_directory);
  std::string a, b;
  ASSERT_TRUE(fs.FileKey(dir / "sub/", &a));
  ASSERT_TRUE(fs.FileKey(dir / "link/", &b));
  EXPECT_EQ(a, b);
}

}  // namespace
}  // namespace kv
