#include <filesystem>

#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "platform/lexical_path.h"
#include "test_support/memory_file_system.h"
#include "test_support/temp_directory.h"

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

TEST(LexicalPath, ASeparatorIsNeverTheSecondByteOfACharacter) {
  EXPECT_TRUE(EndsWithSeparator("game/"));
  EXPECT_TRUE(EndsWithSeparator("C:\\game\\"));
  EXPECT_TRUE(EndsWithSeparator("\x83\x5C\\")) << "ソ and a separator";
  EXPECT_FALSE(EndsWithSeparator("\x83\x5C")) << "ソ";
  EXPECT_FALSE(EndsWithSeparator("a\x95\x5C")) << "a表";
  EXPECT_TRUE(EndsWithSeparator("\x83\x83\x5C")) << "a character whose second byte is a lead byte";
  EXPECT_FALSE(EndsWithSeparator(""));
  EXPECT_TRUE(EndsWithSeparator("cut\x81/")) << "a lead byte never takes a '/' with it";
}

TEST(LexicalPath, DirectoryPartEndsAtTheLastSeparatorCharacter) {
  EXPECT_EQ("out/sub/", DirectoryPart("out/sub/script.kvo", '/'));
  EXPECT_EQ("cut\x81/", DirectoryPart("cut\x81/script.kvo", '/'));
  EXPECT_EQ("", DirectoryPart("script.kvo", '/'));
  EXPECT_EQ("", DirectoryPart("a\\b.kvo", '/')) << "a name on POSIX";
  EXPECT_EQ("C:\\out/", DirectoryPart("C:\\out/a.kvo", '\\'));
  EXPECT_EQ("C:", DirectoryPart("C:a.kvo", '\\'));
  EXPECT_EQ("\x83\x5C\\", DirectoryPart("\x83\x5C\\\x83\x5C.kvo", '\\')) << "ソ\\ソ.kvo";
}

TEST(TemporaryFileName, IsShortAndOnlyItsExactFormIsRecognised) {
  EXPECT_EQ(".kvtmp-4294967295-000000", TemporaryFileName(4294967295u, 0));
  uint32_t process_id = 0;
  ASSERT_TRUE(ParseTemporaryFileName(TemporaryFileName(4294967295u, 0), &process_id));
  EXPECT_EQ(4294967295u, process_id);
  const std::string made = TemporaryFileName(7, 56800235583u);  // 62^6 - 1
  EXPECT_EQ(".kvtmp-7-zzzzzz", made);
  ASSERT_TRUE(ParseTemporaryFileName(made, &process_id));
  EXPECT_EQ(7u, process_id);
  for (const char* other : {".kvtmp-0-abcdef", ".kvtmp-07-abcdef", ".kvtmp-4294967296-abcdef",
                            ".kvtmp--abcdef", ".kvtmp-7-abcde", ".kvtmp-7-abcdefg", ".kvtmp-7_abcdef",
                            ".kvtmp-7-abc.ef", "x.kvtmp-7-abcdef", "script.kvo.tmp-abcdef"}) {
    EXPECT_FALSE(ParseTemporaryFileName(other, &process_id)) << other;
  }
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

// The real file system, with the same expectations on every system.

TEST(RealFileSystem, OutputReplacesTheTargetOnlyOnCommit) {
  TempDirectory dir;
  FileSystem& fs = RealFileSystem();
  std::string target = dir / "out.kvo";
  ASSERT_TRUE(WriteWholeFile(fs, target, "old", nullptr));
  {
    std::unique_ptr<OutputFile> out = fs.CreateOutput(target, nullptr);
    ASSERT_TRUE(out);
    ASSERT_TRUE(out->Write("new but abandoned", 17, nullptr));
    // Flushed to the disk, it is still not in place.
    ASSERT_TRUE(out->Flush(nullptr));
  }
  EXPECT_EQ("old", ReadTestFile(target));
  EXPECT_EQ(1u, CountEntries(dir.path())) << "the temporary file must be removed";
  {
    // What is written after a flush is kept too.
    std::unique_ptr<OutputFile> out = fs.CreateOutput(target, nullptr);
    ASSERT_TRUE(out && out->Write("flushed ", 8, nullptr) && out->Flush(nullptr));
    EXPECT_EQ("old", ReadTestFile(target));
    ASSERT_TRUE(out->Write("and more", 8, nullptr) && out->Commit(nullptr));
  }
  EXPECT_EQ("flushed and more", ReadTestFile(target));
  ASSERT_TRUE(WriteWholeFile(fs, target, std::string("a\0b", 3), nullptr));
  EXPECT_EQ(std::string("a\0b", 3), ReadTestFile(target));
}

TEST(RealFileSystem, TemporaryNamesFitWhereverTheTargetsNameFits) {
  TempDirectory dir;
  const std::string longest = std::string(251, 'n') + ".kvo";  // 255 bytes
  std::string err;
  ASSERT_TRUE(WriteWholeFile(RealFileSystem(), dir / longest, "x", &err)) << err;
  EXPECT_EQ("x", ReadTestFile(dir / longest));
  EXPECT_EQ(1u, CountEntries(dir.path()));
}

TEST(RealFileSystem, RemovesOnlyTheLeftoversOfEndedRuns) {
  TempDirectory dir;
  FileSystem& fs = RealFileSystem();
  constexpr uint32_t kEnded = 2147483644;  // beyond the process ids of either system
  const std::string leftover = TemporaryFileName(kEnded, 1);
  WriteTestFile(dir / leftover, "left");
  WriteTestFile(dir / ".kvtmp-2147483644-abcde", "not the program's");
  std::filesystem::create_directories(dir / TemporaryFileName(kEnded, 2));
  // This run's own, being written.
  std::unique_ptr<OutputFile> live = fs.CreateOutput(dir / "out.kvo", nullptr);
  ASSERT_TRUE(live);
  const size_t entries = CountEntries(dir.path());
  const std::string top = dir.path() + kNativeSeparator;
  std::vector<std::string> removed;
  fs.RemoveLeftoverTemporaryFiles(top, &removed);
  EXPECT_EQ(std::vector<std::string>{top + leftover}, removed);
  EXPECT_EQ(entries - 1, CountEntries(dir.path()));
  EXPECT_FALSE(TestFileExists(dir / leftover));
  ASSERT_TRUE(live->Write("new", 3, nullptr));
  ASSERT_TRUE(live->Commit(nullptr));
  EXPECT_EQ("new", ReadTestFile(dir / "out.kvo"));
}

// A reason as the system words it, without the line end or full stop that
// some systems put after it.
void ExpectReason(const std::string& err) {
  ASSERT_FALSE(err.empty());
  EXPECT_EQ(std::string::npos, std::string("\r\n.").find(err.back())) << err;
}

TEST(RealFileSystem, OutputThatCannotBeCreatedOrRenamedLeavesNothing) {
  TempDirectory dir;
  FileSystem& fs = RealFileSystem();
  std::string err;
  EXPECT_FALSE(fs.CreateOutput(dir / "missing/out.kvo", &err));
  ExpectReason(err);
  std::filesystem::create_directories(dir / "taken/inside");
  err.clear();
  EXPECT_FALSE(WriteWholeFile(fs, dir / "taken", "x", &err));
  ExpectReason(err);
  std::string contents;
  err.clear();
  EXPECT_FALSE(fs.ReadFile(dir / "absent.txt", &contents, &err));
  ExpectReason(err);
  EXPECT_EQ(1u, CountEntries(dir.path()));
}

TEST(RealFileSystem, ListsInByteOrderAndMakesAbsolutePathsWithItsSeparator) {
  TempDirectory dir;
  FileSystem& fs = RealFileSystem();
  // Byte order, not the case-blind order of some file systems.
  WriteTestFile(dir / "a.png", "x");
  WriteTestFile(dir / "_x.png", "x");
  WriteTestFile(dir / "B.png", "x");
  std::filesystem::create_directories(dir / "sub");
  std::vector<DirectoryEntry> entries;
  ASSERT_TRUE(fs.ListDirectory(dir.path() + kNativeSeparator, &entries));
  ASSERT_EQ(4u, entries.size());
  EXPECT_EQ("B.png", entries[0].name);
  EXPECT_EQ("_x.png", entries[1].name);
  EXPECT_EQ("a.png", entries[2].name);
  EXPECT_EQ("sub", entries[3].name);
  EXPECT_TRUE(entries[3].is_directory);
  EXPECT_FALSE(entries[0].is_directory);
  EXPECT_FALSE(fs.ListDirectory(dir / "nowhere/", &entries));

  EXPECT_EQ(kNativeSeparator, fs.Separator());
  EXPECT_TRUE(fs.Exists(dir / "sub"));
  EXPECT_FALSE(fs.Exists(dir / "nowhere"));
  const std::string sep(1, kNativeSeparator);
  EXPECT_EQ(dir / "a.png", fs.AbsolutePath(dir.path() + sep + "sub" + sep + ".." + sep + "a.png"));
  EXPECT_EQ(dir / "sub/", fs.AbsolutePath(dir / "sub/"));
}

TEST(RealFileSystem, NamesAreCp932AndWhatIsListedIsFoundAgain) {
  TempDirectory dir;
  FileSystem& fs = RealFileSystem();
  WriteTestFile(dir / "ソフト/表.png", "so");
  WriteTestFile(dir / "画像.png", "ga");
  WriteTestFile(dir / "\xF0\x9F\x98\x80.png", "emoji");
  const std::string top = dir.path() + kNativeSeparator;
  std::vector<DirectoryEntry> entries;
  ASSERT_TRUE(fs.ListDirectory(top, &entries));
  ASSERT_EQ(3u, entries.size());
  EXPECT_EQ("", entries[0].name) << "no CP932 form: listed first, by the system's name";
  EXPECT_EQ("\xF0\x9F\x98\x80.png", entries[0].system_name);
  EXPECT_EQ("\x83\x5C\x83\x74\x83\x67", entries[1].name);
  EXPECT_TRUE(entries[1].is_directory);
  EXPECT_EQ("\x89\xE6\x91\x9C.png", entries[2].name);
  EXPECT_EQ("", entries[2].system_name);

  // "ソフト" ends in 0x5C, and so does "表".
  const std::string table = top + entries[1].name + kNativeSeparator + "\x95\x5C.png";
  std::string contents;
  ASSERT_TRUE(fs.ListDirectory(top + entries[1].name + kNativeSeparator, &entries));
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ("\x95\x5C.png", entries[0].name);
  EXPECT_TRUE(fs.Exists(table));
  EXPECT_EQ(table, fs.AbsolutePath(table));
  ASSERT_TRUE(fs.ReadFile(table, &contents, nullptr));
  EXPECT_EQ("so", contents);
  std::string key;
  EXPECT_TRUE(fs.FileKey(top + "\x83\x5C\x83\x74\x83\x67" + kNativeSeparator, &key));

  // A new file gets the name the system shows as "背景.png".
  ASSERT_TRUE(WriteWholeFile(fs, top + "\x94\x77\x8C\x69.png", "new", nullptr));
  EXPECT_EQ("new", ReadTestFile(dir / "背景.png"));
}

}  // namespace
}  // namespace kv
