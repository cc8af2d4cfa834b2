#include "context/kc_system.h"

#include <gtest/gtest.h>

#include "source/source_loader.h"
#include "test_support/memory_file_system.h"

namespace kv {
namespace {

struct SystemFixture {
  MemoryFileSystem fs{"/game"};
  StringSink out;
  KCSystem sys{fs, out, ConsoleEncoding::kUtf8};
};

TEST(KCSystem, MainScriptFirstThenTheRestInByteOrder) {
  SystemFixture f;
  for (const char* name : {"a.txt", "B.txt", "main.txt", "z/c.txt"}) {
    f.fs.AddFile(std::string("/game/") + name, "");
    ASSERT_TRUE(AddScript(f.sys, std::string("/game/") + name));
  }
  f.sys.options.engineDirectory = "/game/";
  ASSERT_TRUE(StartMainScript(f.sys));
  std::vector<std::string> order;
  do {
    order.push_back(f.sys.script.currentSource->path);
    f.sys.script.currentObject->contents = "x";  // converted
    f.sys.script.itemPosition = 7;
  } while (NextScript(f.sys));
  EXPECT_EQ((std::vector<std::string>{"/game/main.txt", "/game/B.txt", "/game/a.txt",
                                      "/game/z/c.txt"}),
            order);
  EXPECT_EQ(7u, f.sys.script.itemPosition);
  EXPECT_EQ(
      "/game/main.txt をコンバート中...\n/game/B.txt をコンバート中...\n"
      "/game/a.txt をコンバート中...\n/game/z/c.txt をコンバート中...\n",
      f.out.text);
}

TEST(KCSystem, MainScriptIsLookedUpByExactPathAndOneNearbyIsNamed) {
  SystemFixture f;
  f.fs.AddFile("/game/Main.txt", "");
  f.fs.AddFile("/game/data/a/x.txt", "");
  f.fs.AddFile("/game/data/b/main.txt", "");
  ASSERT_TRUE(AddScript(f.sys, "Main.txt"));
  for (const char* directory : {"/game/", "/game/data/", "game/"}) {
    f.sys.options.engineDirectory = directory;
    EXPECT_FALSE(StartMainScript(f.sys));
  }
  EXPECT_EQ(
      "エラー : メインスクリプトが \"/game/\" ディレクトリに見つかりませんでした\n"
      "備考 : \"/game/Main.txt\" があります。メインスクリプトの名前は小文字の main.txt です\n"
      "エラー : メインスクリプトが \"/game/data/\" ディレクトリに見つかりませんでした\n"
      "備考 : \"/game/data/b/\" にメインスクリプトがあります。-xd でこのディレクトリを指定してください\n"
      "エラー : メインスクリプトが \"game/\" ディレクトリに見つかりませんでした\n",
      f.out.text);
}

TEST(KCSystem, DefinitionsKeepTheFirstPositionPerNameAndScript) {
  SystemFixture f;
  SourceText a(f.fs), b(f.fs);
  a.path = "/game/a.txt";
  b.path = "/game/b.txt";
  f.sys.script.currentSource = &a;
  f.sys.script.itemPosition = 30;
  f.sys.AddLabel("start", 0);
  f.sys.script.itemPosition = 10;
  f.sys.AddLabel("start", 0);
  f.sys.AddFunction("start", 0);
  f.sys.script.currentSource = &b;
  f.sys.AddLabel("start", 0);
  ASSERT_EQ(2u, f.sys.results.LabelDefinitions.size());
  EXPECT_EQ(10u, f.sys.results.LabelDefinitions[0].position);
  EXPECT_EQ("/game/b.txt", f.sys.results.LabelDefinitions[1].script);
  ASSERT_EQ(1u, f.sys.results.FunctionDefinitions.size());
  f.sys.script.currentSource = nullptr;
}

// In a check a second definition tells where the first one stands in its
// script, also in a script after others whose names went with their code.
TEST(KCSystem, SecondDefinitionTellsTheFirstPlaceInItsScript) {
  SystemFixture f;
  f.sys.options.checkOnly = true;
  SourceText a(f.fs), b(f.fs);
  a.path = "/game/a.txt";
  b.path = "/game/b.txt";
  b.contents = "x\n  start\nend\nstart\n";
  b.line = 1;
  KCFile object(f.fs);
  f.sys.script.currentSource = &a;
  f.sys.AddLabel("start", 0);
  f.sys.AddLabel("end", 0);
  object.contents = "code";
  f.sys.KeepCode(object);
  f.sys.script.currentSource = &b;
  f.sys.AddLabel("end", 12);
  EXPECT_FALSE(f.sys.lastDefinition.second);
  f.sys.AddLabel("start", 4);
  EXPECT_TRUE(f.sys.lastDefinition.recorded);
  EXPECT_FALSE(f.sys.lastDefinition.second);
  f.sys.AddLabel("start", 16);
  f.sys.script.currentSource = nullptr;
  ASSERT_EQ(4u, f.sys.results.LabelDefinitions.size());
  EXPECT_TRUE(f.sys.lastDefinition.second);
  EXPECT_EQ(2, f.sys.lastDefinition.firstLine);
  EXPECT_EQ(3, f.sys.lastDefinition.firstColumn);
}

// A build keeps each finished script's code; a check, which writes no
// object, keeps only its size. Either way the object counts as converted and
// its storage goes back for the next script.
TEST(KCSystem, KeepCodeKeepsTheCodeInABuildAndItsSizeInACheck) {
  for (const bool check : {false, true}) {
    SystemFixture f;
    f.sys.options.checkOnly = check;
    KCFile object(f.fs);
    object.contents = "compiled";
    f.sys.KeepCode(object);
    EXPECT_TRUE(object.HasCode());
    EXPECT_EQ(object.CodeSize(), 8u);
    EXPECT_EQ(object.Code(), check ? "" : "compiled");
    EXPECT_TRUE(object.contents.empty());
  }
}

// A check gives back the code of a large script behind the position as it
// compiles; a build keeps every byte, also one patched behind the position
// afterwards. Either way the code keeps its size.
TEST(KCSystem, DiscardCodeBehindOnlyInACheckAndKeepsTheSize) {
  const size_t size = (size_t{9} << 20) + 5;
  for (const bool check : {false, true}) {
    SystemFixture f;
    f.sys.options.checkOnly = check;
    KCFile object(f.fs);
    object.contents.assign(size, 'x');
    object.position = static_cast<uint32_t>(size);
    f.sys.script.currentObject = &object;
    f.sys.DiscardCodeBehind();
    object.contents[1] = 'p';
    object.contents.push_back('y');
    ++object.position;
    f.sys.DiscardCodeBehind();
    f.sys.script.currentObject = nullptr;
    EXPECT_EQ(object.contents.size(), size + 1);
    if (!check) {
      std::string expected(size, 'x');
      expected[1] = 'p';
      EXPECT_EQ(object.contents, expected + 'y');
    }
    EXPECT_EQ(object.contents.substr(size - 1), "xy");
    f.sys.KeepCode(object);
    EXPECT_EQ(object.CodeSize(), size + 1);
  }
}

}  // namespace
}  // namespace kv
