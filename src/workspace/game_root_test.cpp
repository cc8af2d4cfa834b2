#include "workspace/game_root.h"

#include <gtest/gtest.h>

#include "test_support/memory_file_system.h"

namespace kv {
namespace {

TEST(GameRoot, TheNearestMainScriptBelowAWorkspaceFolderIsTheGame) {
  MemoryFileSystem fs;
  fs.AddFile("/repo/README.md", "");
  fs.AddFile("/repo/.git/main.txt", "");
  fs.AddFile("/repo/node_modules/x/main.txt", "");
  fs.AddFile("/repo/a/deep/main.txt", "");
  fs.AddFile("/repo/examples/game/main.txt", "");
  fs.AddFile("/repo/z/main.txt", "");
  fs.AddDirectory("/empty");
  // Shallower first; at one depth, ascending byte order; hidden folders and
  // node_modules are passed by.
  EXPECT_EQ("/repo/z/", FindGameDirectory(fs, {"/empty", "/repo"}, {}));
  EXPECT_EQ("/repo/a/deep/", FindGameDirectory(fs, {"/repo/a"}, {}));
  EXPECT_EQ("/repo/examples/game/", FindGameDirectory(fs, {"/repo/examples/game/"}, {}));
  // None: the first folder, where the missing main.txt is reported.
  fs.AddDirectory("/other");
  EXPECT_EQ("/empty/", FindGameDirectory(fs, {"", "/empty", "/other"}, {}));
  EXPECT_EQ("", FindGameDirectory(fs, {}, {}));
  // Roots given by the editor's settings win, the first that holds main.txt.
  EXPECT_EQ("/repo/a/deep/", FindGameDirectory(fs, {"/repo"}, {"/empty", "/repo/a/deep"}));
  EXPECT_EQ("/empty/", FindGameDirectory(fs, {"/repo"}, {"/empty"}));
}

}  // namespace
}  // namespace kv
