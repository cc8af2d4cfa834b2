// End-to-end runs over names and paths that the ANSI file functions of
// Windows cannot handle.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "game_directory.h"

namespace kv {
namespace {

constexpr char kNotFound[] = "\" が見つかりませんでした\n";
constexpr char kSearchFailed[] = "内部エラー : main(1) ファイル検索に失敗\n";

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

TEST(WindowsEndToEnd, ANameOutsideTheAnsiCodePageStopsTheSearch) {
  if (GetACP() == CP_UTF8) GTEST_SKIP() << "every name is representable in UTF-8";
  GameDirectory game;
  game.Write("a.png", "a");
  game.Write("image.kvo", "old archive");
  // Hangul is in neither the Western nor the Japanese code page: the listing
  // gives a substituted name, which names no file.
  std::ofstream(std::filesystem::path(game.root()) / L"\uD55C.png") << "b";
  std::string console;
  EXPECT_EQ(1, game.Run("", &console));
  EXPECT_NE(std::string::npos, console.find("ファイル \"" + game.root() + "\\")) << console;
  EXPECT_NE(std::string::npos, console.find(kNotFound));
  EXPECT_NE(std::string::npos, console.find(kSearchFailed));
  EXPECT_EQ("old archive", game.Read("image.kvo"));
}

TEST(WindowsEndToEnd, APathLongerThanMaxPathStopsTheSearch) {
  GameDirectory game;
  game.Write("image.kvo", "old archive");
  // Made through the long-path form of the wide functions; the converter's
  // ANSI functions cannot reach below it.
  std::string deep = std::string(MAX_PATH - game.root().size(), 'd');
  std::wstring directory = Wide("\\\\?\\" + game.Path(deep));
  std::wstring file = directory + L"\\x.png";
  ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
  HANDLE created = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, created);
  CloseHandle(created);
  std::string console;
  EXPECT_EQ(1, game.Run("", &console));
  EXPECT_NE(std::string::npos, console.find("ファイル \"" + game.Path(deep) + kNotFound)) << console;
  EXPECT_NE(std::string::npos, console.find(kSearchFailed));
  EXPECT_EQ("old archive", game.Read("image.kvo"));
  DeleteFileW(file.c_str());
  RemoveDirectoryW(directory.c_str());
}

TEST(WindowsEndToEnd, ALockedOutputFailsTheRunAndKeepsTheOldFile) {
  GameDirectory game;
  game.Write("a.png", "a");
  game.Write("image.kvo", "old archive");
  HANDLE held = CreateFileA(game.Path("image.kvo").c_str(), GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  std::string console;
  EXPECT_EQ(1, game.Run("", &console));
  CloseHandle(held);
  EXPECT_NE(std::string::npos,
            console.find("内部エラー : KCFile::FileClose(2) ファイルへの書き込みに失敗\n"))
      << console;
  EXPECT_EQ("old archive", game.Read("image.kvo"));
  EXPECT_EQ(2u, CountEntries(game.root())) << "no temporary file is left";
}

}  // namespace
}  // namespace kv
