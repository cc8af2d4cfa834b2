#include "server/uri.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

std::string Path(std::string_view uri, PathStyle style) {
  std::string path;
  return UriToPath(uri, style, &path) ? path : "(refused)";
}

TEST(Uri, PosixPaths) {
  const PathStyle posix = PathStyle::kPosix;
  EXPECT_EQ("/home/you/a b+c.txt", Path("file:///home/you/a%20b+c.txt", posix));
  EXPECT_EQ("/game/main.txt", Path("FILE://localhost/game/./x/../main.txt?q#f", posix));
  EXPECT_EQ("/game", Path("file:///game/", posix));
  // ゲーム: its name reaches the program in CP932.
  EXPECT_EQ("/\x83\x51\x81\x5B\x83\x80/main.txt",
            Path("file:///%E3%82%B2%E3%83%BC%E3%83%A0/main.txt", posix));
  EXPECT_EQ("(refused)", Path("file://server/share/a.txt", posix));
  EXPECT_EQ("(refused)", Path("untitled:Untitled-1", posix));
  EXPECT_EQ("(refused)", Path("file:///a%2", posix));
  EXPECT_EQ("(refused)", Path("file:///a%00b", posix));
  EXPECT_EQ("(refused)", Path("file:///%F0%9F%98%80.txt", posix));  // no CP932 form

  EXPECT_EQ("file:///home/you/a%20b%2Bc.txt", PathToUri("/home/you/a b+c.txt", posix));
  EXPECT_EQ("file:///%E3%82%B2%E3%83%BC%E3%83%A0/main.txt",
            PathToUri("/\x83\x51\x81\x5B\x83\x80/main.txt", posix));
}

TEST(Uri, WindowsPaths) {
  const PathStyle windows = PathStyle::kWindows;
  EXPECT_EQ("C:\\game\\main.txt", Path("file:///c%3A/game/main.txt", windows));
  EXPECT_EQ("D:\\", Path("file:///D:", windows));
  EXPECT_EQ("\\\\server\\share\\a.txt", Path("file://server/share/a.txt", windows));
  EXPECT_EQ("(refused)", Path("file:///game/main.txt", windows));
  // ソ ends with the byte of '\' in CP932; it stays one character.
  EXPECT_EQ("C:\\\x83\x5C\\a.txt", Path("file:///C:/%E3%82%BD/a.txt", windows));

  EXPECT_EQ("file:///C:/game/main.txt", PathToUri("C:\\game\\main.txt", windows));
  EXPECT_EQ("file:///C:/%E3%82%BD/a.txt", PathToUri("C:\\\x83\x5C\\a.txt", windows));
  EXPECT_EQ("file://server/share/a.txt", PathToUri("\\\\server\\share\\a.txt", windows));
}

}  // namespace
}  // namespace kv
