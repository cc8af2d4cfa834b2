#include "workspace/overlay_file_system.h"

#include <gtest/gtest.h>

#include "test_support/memory_file_system.h"

namespace kv {
namespace {

// What a compile read is read again when it is needed, and given only while
// the disk still holds those bytes; a file that changed is told once, in
// whichever way it is found.
TEST(OverlayFileSystem, GivesAFileAgainOnlyWhileItHoldsTheBytesThatWereRead) {
  MemoryFileSystem disk;
  disk.AddFile("/game/a.txt", "a;\n");
  disk.AddFile("/game/b.txt", "b;\n");
  disk.AddFile("/game/c.txt", "c;\n");
  OverlayFileSystem fs(disk);
  fs.set_keep([](const std::string& path) { return path != "/game/c.txt"; });
  std::string contents, err;
  for (const char* path : {"/game/a.txt", "/game/b.txt", "/game/c.txt"})
    ASSERT_TRUE(fs.ReadFile(path, &contents, &err));
  fs.set_keep(nullptr);
  // b.txt changes (same size) before the check that follows the compile.
  disk.AddFile("/game/b.txt", "B;\n");
  EXPECT_EQ(std::vector<std::string>{"/game/b.txt"}, fs.CheckRead());
  EXPECT_TRUE(fs.CheckRead().empty());

  bool changed = true;
  std::shared_ptr<const std::string> a = fs.Compiled("/game/a.txt", &changed);
  ASSERT_NE(nullptr, a);
  EXPECT_EQ("a;\n", *a);
  EXPECT_FALSE(changed);
  EXPECT_EQ(nullptr, fs.Compiled("/game/b.txt", &changed));
  EXPECT_FALSE(changed) << "told by the check already";
  EXPECT_EQ(nullptr, fs.Compiled("/game/c.txt", &changed));
  EXPECT_FALSE(fs.WasRead("/game/c.txt"));

  // Held while small: what was compiled, whatever the disk holds since.
  disk.AddFile("/game/a.txt", "a2;\n");
  ASSERT_NE(nullptr, fs.Compiled("/game/a.txt", &changed));
  EXPECT_EQ("a;\n", *fs.Compiled("/game/a.txt", &changed));
  fs.ForgetRead();

  // Read again after the check: a change is found once, and nothing is
  // given for the file until it is read anew.
  fs.set_keep([](const std::string&) { return true; });
  ASSERT_TRUE(fs.ReadFile("/game/a.txt", &contents, &err));
  fs.set_keep(nullptr);
  EXPECT_TRUE(fs.CheckRead().empty());
  disk.AddFile("/game/a.txt", "a3;\n");
  EXPECT_EQ(nullptr, fs.Compiled("/game/a.txt", &changed));
  EXPECT_TRUE(changed);
  EXPECT_EQ(nullptr, fs.Compiled("/game/a.txt", &changed));
  EXPECT_FALSE(changed);
  EXPECT_TRUE(fs.WasRead("/game/a.txt"));
  EXPECT_TRUE(fs.CheckRead().empty()) << "found after its check: the finder tells it";

  // Found changed while the analysis that read it runs: its check tells it.
  fs.set_keep([](const std::string&) { return true; });
  ASSERT_TRUE(fs.ReadFile("/game/a.txt", &contents, &err));
  disk.AddFile("/game/a.txt", "a4;\n");
  EXPECT_EQ(nullptr, fs.Compiled("/game/a.txt", &changed));
  EXPECT_TRUE(changed);
  fs.set_keep(nullptr);
  EXPECT_EQ(std::vector<std::string>{"/game/a.txt"}, fs.CheckRead());
}

}  // namespace
}  // namespace kv
