// End-to-end runs that need POSIX links, byte names and permissions.
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "game_directory.h"

namespace kv {
namespace {

TEST(EndToEnd, LinkLoopsOddNamesAndPercentSignsNeitherHangNorCrash) {
  GameDirectory game;
  game.Write("100%s/a.png", "x");
  game.Write("raw/\xFF\xFE.png", "y");
  ASSERT_EQ(0, symlink(game.root().c_str(), (game.root() + "/100%s/loop").c_str()));
  std::string console;
  EXPECT_EQ(0, game.Run("-s", &console));
  EXPECT_NE(std::string::npos, console.find(game.root() + "/100%s/a.png をコンバート中...\n"));
  EXPECT_NE(std::string::npos,
            console.find(game.root() + "/raw/\xFF\xFE.png をコンバート中...\n"));
  std::string image = Unscrambled(game.Read("image.kvo"));
  EXPECT_EQ(2, image[7]) << "each file once, although the loop leads back to the top";
}

TEST(EndToEnd, AnUnreadableDirectoryCountsAsEmpty) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not restrict root";
  GameDirectory game;
  game.Write("locked/a.png", "x");
  chmod((game.root() + "/locked").c_str(), 0);
  std::string console;
  EXPECT_EQ(0, game.Run("", &console));
  chmod((game.root() + "/locked").c_str(), 0755);
  EXPECT_FALSE(game.Exists("image.kvo"));
}

}  // namespace
}  // namespace kv
