// End-to-end runs that need POSIX links, byte names and permissions.
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "game_directory.h"
#include "platform/coding.h"
#include "test_support/scramble_reference.h"

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

TEST(EndToEnd, KvdumpExtractsAnArchiveAndNeverWritesOutsideItsDirectory) {
  GameDirectory game;
  game.Write("a.png", "first");
  game.Write("sub/b.png", "second");
  std::string console;
  ASSERT_EQ(0, game.Run("-s -a -m", &console));
  ASSERT_EQ(0, game.RunTool(KV_KVDUMP_NAME, "-x out image.kvo", &console));
  EXPECT_EQ("first", game.Read("out" + game.root() + "/a.png"));
  EXPECT_EQ("second", game.Read("out" + game.root() + "/sub/b.png"));
  EXPECT_EQ(1, game.RunTool(KV_KVDUMP_NAME, "-x out image.kvo", &console))
      << "existing files are kept";
  game.Write("a.png", "changed");
  ASSERT_EQ(0, game.Run("-s -a -m", &console));
  ASSERT_EQ(0, game.RunTool(KV_KVDUMP_NAME, "--extract out --force image.kvo", &console));
  EXPECT_EQ("changed", game.Read("out" + game.root() + "/a.png"));

  // A hostile archive: a name that climbs out, and a link planted inside the
  // directory that leads out of it.
  const std::string names[] = {"/../../escaped", "/link/escaped"};
  uint32_t header = 11;
  for (const std::string& n : names) header += 12 + static_cast<uint32_t>(n.size());
  std::string image = "KVI";
  kv::PutFixed32(&image, header);
  kv::PutFixed32(&image, 2);
  for (uint32_t i = 0; i < 2; ++i) {
    kv::PutFixed32(&image, static_cast<uint32_t>(names[i].size()));
    image += names[i];
    kv::PutFixed32(&image, header + 2 * i);
    kv::PutFixed32(&image, 2);
  }
  image += std::string("x\0y\0", 4);
  game.Write("evil.kvo", kv::ScrambleBytes(image, {5, 5}));
  ASSERT_EQ(0, mkdir((game.root() + "/outside").c_str(), 0777));
  ASSERT_EQ(0, mkdir((game.root() + "/jail").c_str(), 0777));
  ASSERT_EQ(0, symlink((game.root() + "/outside").c_str(), (game.root() + "/jail/link").c_str()));
  EXPECT_EQ(1, game.RunTool(KV_KVDUMP_NAME, "-x jail --force evil.kvo", &console));
  EXPECT_FALSE(game.Exists("outside/escaped"));
  EXPECT_FALSE(game.Exists("escaped"));
  EXPECT_FALSE(game.Exists("../escaped"));
}

}  // namespace
}  // namespace kv
