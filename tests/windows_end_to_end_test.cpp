// End-to-end runs over paths that only the wide file functions of Windows
// handle, over files that other programs hold open, and over names that
// Windows takes for the same file.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "game_directory.h"
#include "test_support/conversion_harness.h"

namespace kv {
namespace {

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

TEST(WindowsEndToEnd, PathsLongerThanMaxPathAreConvertedAndWritten) {
  GameDirectory game;
  game.Write("image.kvo", "old archive");
  // Made through the long form of the wide functions, with a Japanese name
  // ("背景.png") at the end.
  std::string deep = std::string(MAX_PATH - game.root().size(), 'd');
  std::wstring directory = Wide("\\\\?\\" + game.Path(deep));
  std::wstring file = directory + L"\\\u80CC\u666F.png";
  ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
  HANDLE created = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, created);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(created, "x", 1, &written, nullptr));
  CloseHandle(created);
  const std::string archive = game.Path(deep + "/image.kvo");
  std::string console;
  ASSERT_EQ(0, game.Run("-io " + archive, &console)) << console;
  EXPECT_NE(std::string::npos, console.find(game.Path(deep + "/背景.png") + " をコンバート中...\n"))
      << console;
  std::string stored;
  HANDLE in = CreateFileW((directory + L"\\image.kvo").c_str(), GENERIC_READ, 0, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, in);
  char buffer[4096];
  for (DWORD n = 0; ReadFile(in, buffer, sizeof buffer, &n, nullptr) && n > 0;) {
    stored.append(buffer, n);
  }
  CloseHandle(in);
  EXPECT_EQ(std::string("x", 2),
            ScriptCode(Unscrambled(stored), game.Path(deep) + "\\\x94\x77\x8C\x69.png"));
  EXPECT_EQ("old archive", game.Read("image.kvo"));
  for (const wchar_t* name : {L"\\\u80CC\u666F.png", L"\\image.kvo"}) {
    DeleteFileW((directory + name).c_str());
  }
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

TEST(WindowsEndToEnd, AnOutputThatIsAnInputUnderAnyNameIsRefused) {
  GameDirectory game;
  game.Write("main.txt", "create_window;\n");
  ASSERT_TRUE(CreateHardLinkA(game.Path("second.kvo").c_str(), game.Path("main.txt").c_str(),
                              nullptr));
  for (const std::string name : {"MAIN.TXT", "second.kvo"}) {
    std::string console;
    EXPECT_EQ(1, game.Run("-so " + name, &console));
    EXPECT_NE(std::string::npos,
              console.find("エラー : 出力ファイル \"" + name + "\" は入力ファイルです\n"))
        << console;
    EXPECT_EQ("create_window;\n", game.Read("main.txt"));
  }
}

TEST(WindowsEndToEnd, ADeviceNamedAsAnOutputIsRefused) {
  GameDirectory game;
  game.Write("main.txt", "create_window;\n");
  for (const std::string args : {"-so NUL", "--check -so NUL"}) {
    std::string console;
    EXPECT_EQ(1, game.Run(args, &console));
    EXPECT_NE(std::string::npos, console.find("NUL\" は通常のファイルではありません\n")) << console;
  }
  EXPECT_EQ(1u, CountEntries(game.root())) << "no temporary file is left";
}

}  // namespace
}  // namespace kv
