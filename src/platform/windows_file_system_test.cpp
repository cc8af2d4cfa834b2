#include <windows.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "test_support/temp_directory.h"

namespace kv {
namespace {

TEST(WindowsFileSystem, PathsCarryTheDriveAndBackslashes) {
  FileSystem& fs = RealFileSystem();
  std::string cwd;
  ASSERT_TRUE(fs.CurrentDirectory(&cwd));
  ASSERT_GE(cwd.size(), 2u);
  EXPECT_EQ(':', cwd[1]) << cwd;
  EXPECT_NE('\\', cwd.back());
  EXPECT_EQ(cwd + "\\b.txt", fs.AbsolutePath("a\\..\\b.txt"));
  EXPECT_EQ(cwd + "\\data\\x.png", fs.AbsolutePath("data/x.png"));
  // Beyond MAX_PATH, and with a name ending in 0x5C ("表").
  std::string name(MAX_PATH, 'n');
  EXPECT_EQ(cwd + "\\" + name + "\\\x95\x5C", fs.AbsolutePath(name + "\\.\\\x95\x5C"));
}

TEST(WindowsFileSystem, DirectoryKeysTellDirectoriesApart) {
  TempDirectory dir;
  FileSystem& fs = RealFileSystem();
  std::filesystem::create_directories(dir / "a");
  std::filesystem::create_directories(dir / "b");
  std::string a, a_again, b;
  ASSERT_TRUE(fs.FileKey(dir / "a\\", &a));
  ASSERT_TRUE(fs.FileKey(dir / "b\\..\\a\\", &a_again));
  ASSERT_TRUE(fs.FileKey(dir / "b\\", &b));
  EXPECT_EQ(a, a_again);
  EXPECT_NE(a, b);
  EXPECT_FALSE(fs.FileKey(dir / "c\\", &b));
}

TEST(WindowsFileSystem, ARenameRefusedForAnOpenTargetKeepsTheOldFile) {
  TempDirectory dir;
  FileSystem& fs = RealFileSystem();
  std::string target = dir / "image.kvo";
  WriteTestFile(target, "old");
  HANDLE held = CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_FALSE(WriteWholeFile(fs, target, "new", nullptr));
  CloseHandle(held);
  EXPECT_EQ("old", ReadTestFile(target));
  EXPECT_EQ(1u, CountEntries(dir.path())) << "the temporary file must be removed";
}

TEST(WindowsFileSystem, ReplacedOutputsKeepTheirAttributesAndReadOnlyOnesStay) {
  TempDirectory dir;
  FileSystem& fs = RealFileSystem();
  std::string target = dir / "script.kvo";
  WriteTestFile(target, "old");
  ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(WriteWholeFile(fs, target, "new", nullptr));
  EXPECT_NE(0u, GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_HIDDEN);
  ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
  std::string err;
  EXPECT_FALSE(WriteWholeFile(fs, target, "newer", &err));
  SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  ASSERT_FALSE(err.empty());
  EXPECT_EQ(std::string::npos, err.find_first_of("\r\n")) << err;
  EXPECT_NE('.', err.back()) << err;
  EXPECT_EQ("new", ReadTestFile(target));
  EXPECT_EQ(1u, CountEntries(dir.path())) << "no temporary file is left";
}

}  // namespace
}  // namespace kv
