#include "output/script_object.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "context/kc_system.h"
#include "output/scramble.h"
#include "platform/coding.h"
#include "test_support/memory_file_system.h"
#include "test_support/scramble_reference.h"
#include "context/kc_file.h"

namespace kv {
namespace {

constexpr char kObjectName[] = "/game/script.kvo";
constexpr uint32_t kSeed = 777;

std::string Fixed32(uint32_t v) {
  std::string out;
  PutFixed32(&out, v);
  return out;
}
std::string Text(const std::string& s) { return Fixed32(static_cast<uint32_t>(s.size())) + s; }

class ScriptObjectTest : public ::testing::Test {
 protected:
  ScriptObjectTest() {
    sys.seedClock = [] { return kSeed; };
    sys.options.scriptObjectName = kObjectName;
    sys.options.engineDirectory = "/game/eng/";
  }

  // Registers a script with a temporary object holding `code`.
  void AddObject(const std::string& path, const std::string& code) {
    auto object = std::make_unique<KCFile>(fs);
    ASSERT_TRUE(object->FileOpen("*" + path, ModeRead | ModeWrite | ModeTruncate | ModeBinary));
    ASSERT_TRUE(object->WriteBytes(code.data(), code.size()));
    sys.results.Objects[path] = std::move(object);
  }
  std::string Image() {
    std::string image;
    EXPECT_TRUE(UnscrambleBytes(fs.FileContents(kObjectName), &image));
    return image;
  }

  MemoryFileSystem fs{"/game"};
  StringSink out;
  KCSystem sys{fs, out, ConsoleEncoding::kUtf8};
};

TEST_F(ScriptObjectTest, OneScriptWithoutDefinitions) {
  const std::string path = "/game/eng/main_script.txt";
  ASSERT_EQ(path.size(), 25u);
  const std::string code = "0123456789abcdefghij";
  AddObject(path, code);

  ASSERT_TRUE(WriteScriptObject(sys));

  const std::string expected = "KVS" + Fixed32(70) + Fixed32(1) + Text(path) + Fixed32(70) +
                               Fixed32(20) + Fixed32(0) + Fixed32(0) + Text("/game/eng/") + code;
  ASSERT_EQ(expected.size(), 90u);
  EXPECT_EQ(fs.FileContents(kObjectName).size(), 92u);
  EXPECT_EQ(Image(), expected);
  EXPECT_EQ(fs.FileContents(kObjectName), ScrambleBytes(expected, MakeScrambleKey(kSeed)));
  EXPECT_EQ(out.text, "");
  EXPECT_TRUE(sys.results.Objects.empty());
  EXPECT_EQ(fs.open_outputs, 0);
}

TEST_F(ScriptObjectTest, ScriptsInPathOrderWithLabelsAndFunctions) {
  const std::string code_b("\x01\x9b\x00\x00\x00\x04\x00", 7);  // zero bytes inside and at the end
  const std::string code_a("\x00\x02", 2);
  AddObject("/game/b.txt", code_b);
  AddObject("/game/a.txt", code_a);
  AddObject("/game/c.txt", "");
  const std::string path_a = "/game/a.txt", path_b = "/game/b.txt";
  sys.results.LabelDefinitions.Add("start", &path_b, 3);
  sys.results.LabelDefinitions.Add("loop", &path_a, 0);
  sys.results.FunctionDefinitions.Add("f1", &path_a, 1);
  sys.script.currentObject = sys.results.Objects["/game/b.txt"].get();

  ASSERT_TRUE(WriteScriptObject(sys));

  // 11 + 3 * (11 + 12) + 4 + (5 + 11 + 12) + (4 + 11 + 12) + 4 + (2 + 11 + 12) + 4 + 10
  const uint32_t header_size = 182;
  const std::string expected =
      "KVS" + Fixed32(header_size) + Fixed32(3) +
      Text("/game/a.txt") + Fixed32(header_size) + Fixed32(2) +
      Text("/game/b.txt") + Fixed32(header_size + 2) + Fixed32(7) +
      Text("/game/c.txt") + Fixed32(header_size + 9) + Fixed32(0) +
      Fixed32(2) + Text("start") + Text("/game/b.txt") + Fixed32(3) +
      Text("loop") + Text("/game/a.txt") + Fixed32(0) +
      Fixed32(1) + Text("f1") + Text("/game/a.txt") + Fixed32(1) +
      Text("/game/eng/") + code_a + code_b;
  ASSERT_EQ(expected.size(), header_size + 9);
  EXPECT_EQ(Image(), expected);
  EXPECT_TRUE(sys.results.Objects.empty());
  EXPECT_EQ(sys.script.currentObject, nullptr);
}

TEST_F(ScriptObjectTest, NothingWrittenAfterAnErrorOrWithoutScripts) {
  fs.AddFile(kObjectName, "old");
  EXPECT_TRUE(WriteScriptObject(sys));  // no scripts

  AddObject("/game/main.txt", "code");
  sys.log.Error("x\n");
  out.text.clear();
  EXPECT_TRUE(WriteScriptObject(sys));
  EXPECT_EQ(out.text, "");
  EXPECT_EQ(fs.FileContents(kObjectName), "old");
  EXPECT_EQ(sys.results.Objects.size(), 1u);
}

TEST_F(ScriptObjectTest, WriteFailureIsReportedAndLeavesTheOldFile) {
  fs.AddFile(kObjectName, "old");
  AddObject("/game/main.txt", "code");
  fs.unwritable.insert(kObjectName);

  EXPECT_FALSE(WriteScriptObject(sys));
  EXPECT_EQ(out.text,
            "内部エラー : KCFile::FileClose(2) ファイルへの書き込みに失敗\n"
            "\"/game/script.kvo\" に書き込めませんでした: Permission denied\n");
  EXPECT_EQ(fs.FileContents(kObjectName), "old");
  EXPECT_EQ(fs.open_outputs, 0);
}

}  // namespace
}  // namespace kv
