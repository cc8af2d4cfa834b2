#include "driver/file_search.h"

#include <gtest/gtest.h>

#include "context/kc_system.h"
#include "test_support/conversion_harness.h"
#include "test_support/memory_file_system.h"

namespace kv {
namespace {

struct SearchFixture {
  MemoryFileSystem fs{"/game"};
  StringSink out;
  KCSystem sys{fs, out, ConsoleEncoding::kUtf8};
  bool found = false;

  bool Search(const ExtensionLists& lists, int32_t depth = -1) {
    return SearchFiles(sys, "/game/", 0, depth, &found, lists);
  }
};

TEST(FileSearch, ExtensionsMatchCaseSensitivelyAtTheEndOnly) {
  SearchFixture f;
  for (const char* name : {"Face.PNG", "face.png", "main.txt.bak", "notes.txt", "x.png.txt", "png"}) {
    f.fs.AddFile(std::string("/game/") + name, "");
  }
  ASSERT_TRUE(f.Search({{"txt"}, {"png"}, {}, {}}));
  EXPECT_TRUE(f.found);
  EXPECT_EQ(std::vector<std::string>{"/game/face.png"}, f.sys.results.ImageFiles);
  ASSERT_EQ(2u, f.sys.results.Objects.size());
  EXPECT_TRUE(f.sys.results.Objects.count("/game/notes.txt"));
  EXPECT_TRUE(f.sys.results.LoadedSources.count("/game/x.png.txt")) << "scripts are loaded at once";
}

TEST(FileSearch, AnExtensionListedTwiceRegistersTwice) {
  SearchFixture f;
  f.fs.AddFile("/game/a.png", "");
  f.fs.AddFile("/game/main.txt", "");
  ASSERT_TRUE(f.Search({{"txt", "txt"}, {"png", "png"}, {"png"}, {}}));
  EXPECT_EQ(2u, f.sys.results.ImageFiles.size());
  EXPECT_EQ(1u, f.sys.results.AudioFiles.size()) << "a file may belong to several kinds";
  EXPECT_EQ(1u, f.sys.results.Objects.size());
  EXPECT_EQ(1, f.sys.log.warningCount);
  EXPECT_EQ("警告 : ファイル \"/game/main.txt\" は既に読み込まれています\n", f.out.text);
}

TEST(FileSearch, DepthLimitsTheLevelsBelowTheTop) {
  SearchFixture f;
  f.fs.AddFile("/game/a.png", "");
  f.fs.AddFile("/game/1/b.png", "");
  f.fs.AddFile("/game/1/2/c.png", "");
  ASSERT_TRUE(f.Search({{}, {"png"}, {}, {}}, 1));
  EXPECT_EQ((std::vector<std::string>{"/game/1/b.png", "/game/a.png"}), f.sys.results.ImageFiles);
}

TEST(FileSearch, MissingDirectoryCountsAsEmptyUnlistableOneStopsTheSearch) {
  SearchFixture f;
  f.fs.AddFile("/game/locked/a.png", "");
  f.fs.unlistable.insert("/game/locked");
  EXPECT_TRUE(SearchFiles(f.sys, "/nowhere/", 0, -1, &f.found, {{"txt"}, {"png"}, {}, {}}));
  EXPECT_EQ("", f.out.text);
  EXPECT_FALSE(f.Search({{"txt"}, {"png"}, {}, {}}));
  EXPECT_TRUE(f.sys.results.ImageFiles.empty());
  EXPECT_EQ("エラー : ディレクトリ \"/game/locked/\" を読み込めませんでした\n", f.out.text);
}

TEST(FileSearch, ANameWithoutACp932FormIsAnErrorAndTheRestIsSearched) {
  SearchFixture f;
  // As the system gives them: an emoji file, a directory named in Hangul.
  f.fs.AddFile("/game/\xF0\x9F\x98\x80.png", "");
  f.fs.AddFile("/game/\xED\x95\x9C/b.png", "");
  f.fs.without_cp932_form = {"/game/\xF0\x9F\x98\x80.png", "/game/\xED\x95\x9C"};
  // "画像/背景.png" in CP932.
  f.fs.AddFile("/game/\x89\xE6\x91\x9C/\x94\x77\x8C\x69.png", "");
  ASSERT_TRUE(f.Search({{}, {"png"}, {}, {}}));
  EXPECT_EQ(std::vector<std::string>{"/game/\x89\xE6\x91\x9C/\x94\x77\x8C\x69.png"},
            f.sys.results.ImageFiles);
  EXPECT_EQ(2, f.sys.log.errorCount);
  EXPECT_EQ("エラー : \"/game/\xED\x95\x9C\" の名前は Shift_JIS (CP932) で表せません\n"
            "エラー : \"/game/\xF0\x9F\x98\x80.png\" の名前は Shift_JIS (CP932) で表せません\n",
            f.out.text);
}

TEST(FileSearch, AFolderNamedWithALoneLeadByteHoldsItsFilesUnderTheirNames) {
  // A Windows name cut after the first byte of a character: 0x81 then '/'.
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt", "create_window;\nlayer t, \"a.png\";\nlayer u, \"\x81/b.png\";\n");
  fs.AddFile("/game/\x81/a.png", "a");
  fs.AddFile("/game/\x81/b.png", "b");
  const ConversionRun run = RunConversion(fs, {"--check"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(std::string::npos, run.console.find("警告 :")) << run.console;
}

TEST(FileSearch, AScriptThatCannotBeLoadedStopsTheSearch) {
  SearchFixture f;
  f.fs.AddFile("/game/a.txt", "/* never closed");
  f.fs.AddFile("/game/b.png", "");
  EXPECT_FALSE(f.Search({{"txt"}, {"png"}, {}, {}}));
  EXPECT_TRUE(f.sys.results.ImageFiles.empty());
  EXPECT_EQ(1, f.sys.log.errorCount);
}

TEST(FileSearch, FifosSocketsAndDevicesAreLeftOutUnlessOneIsTheMainScript) {
  SearchFixture f;
  f.sys.options.engineDirectory = "/game/";
  f.fs.AddFile("/game/a.png", "");
  f.fs.AddSpecialFile("/game/fifo.png");
  f.fs.AddSpecialFile("/game/socket");  // no content's name: nothing to say
  f.fs.AddSpecialFile("/game/sub/main.txt");
  ASSERT_TRUE(f.Search({{"txt"}, {"png"}, {}, {}}));
  EXPECT_EQ(std::vector<std::string>{"/game/a.png"}, f.sys.results.ImageFiles);
  EXPECT_TRUE(f.sys.results.Objects.empty());
  const std::string warnings =
      "警告 : \"/game/fifo.png\" は通常のファイルではないため読み飛ばしました\n"
      "警告 : \"/game/sub/main.txt\" は通常のファイルではないため読み飛ばしました\n";
  EXPECT_EQ(warnings, f.out.text);

  SearchFixture g;
  g.sys.options.engineDirectory = "/game/";
  g.fs.AddSpecialFile("/game/main.txt");
  g.fs.AddFile("/game/x.png", "");
  EXPECT_FALSE(g.Search({{"txt"}, {"png"}, {}, {}}));
  EXPECT_EQ("エラー : メインスクリプト \"/game/main.txt\" は通常のファイルではありません\n", g.out.text);
  EXPECT_TRUE(g.sys.results.ImageFiles.empty()) << "the search stops there";
}

}  // namespace
}  // namespace kv
