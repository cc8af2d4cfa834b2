// End-to-end runs of the KVConverter program over small game trees on disk.
#include <algorithm>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "driver/converter.h"
#include "context/diagnostics.h"
#include "game_directory.h"
#include "test_support/conversion_harness.h"

namespace kv {
namespace {

// The reason the real file system gives for refusing to write `path`, worded
// by the system ("Permission denied" on POSIX, "Access is denied" on Windows).
std::string SystemReasonForOutput(const std::string& path) {
  std::string err;
  EXPECT_EQ(nullptr, RealFileSystem().CreateOutput(path, &err));
  return err;
}

TEST(EndToEnd, ConvertsAGameAndReportsSuccessInUtf8) {
  GameDirectory game;
  game.Write("main.txt", "window_size 640, 480;\ncreate_window;\ntext \"hello\";\n");
  game.Write("img/bg.png", "PNGDATA");
  game.Write("se/click.wav", "");
  game.Write("mv/op.avi", std::string(300, 'm'));
  std::string console;
  EXPECT_EQ(0, game.Run("", &console));
  EXPECT_NE(std::string::npos, console.find("\n結果 : 成功 / エラー 0件 / 警告 0件\n"));
  EXPECT_NE(std::string::npos, console.find(game.Path("main.txt") + " をコンバート中...\n"));
  EXPECT_EQ(std::string::npos, console.find("Enter")) << "no prompt when input is no console";
  std::string image = Unscrambled(game.Read("image.kvo"));
  EXPECT_EQ("KVI", image.substr(0, 3));
  EXPECT_EQ(std::string("PNGDATA") + '\0', image.substr(image.size() - 8));
  std::string movie = Unscrambled(game.Read("movie.kvo"));
  EXPECT_EQ(std::string(300, 'm') + '\0', movie.substr(movie.size() - 301));
  EXPECT_EQ("KVS", Unscrambled(game.Read("script.kvo")).substr(0, 3));
}

TEST(EndToEnd, CLocalePrintsTheExactCp932Bytes) {
  GameDirectory game;
  game.Write("main.txt", "create_window;\nx = (1;\n");
  std::string console;
  EXPECT_EQ(1, game.Run("", &console, false));
  // "エラー : <path> 2 行目 ) がありません\n" in CP932.
  EXPECT_NE(std::string::npos,
            console.find("\x83\x47\x83\x89\x81\x5B : " + game.Path("main.txt") +
                         " 2 \x8D\x73\x96\xDA ) \x82\xAA\x82\xA0\x82\xE8\x82\xDC"
                         "\x82\xB9\x82\xF1\n"));
  // "\n結果 : 失敗 / エラー 1件 / 警告 0件\n"
  EXPECT_NE(std::string::npos, console.find("\n\x8C\x8B\x89\xCA : \x8E\xB8\x94\x73 / "
                                            "\x83\x47\x83\x89\x81\x5B 1\x8C\x8F / "
                                            "\x8C\x78\x8D\x90 0\x8C\x8F\n"));
  EXPECT_FALSE(game.Exists("script.kvo")) << "no script object after an error";
  // "エラーがあるため \"script.kvo\" は更新されていません\n"
  EXPECT_NE(std::string::npos, console.find("\x83\x47\x83\x89\x81\x5B\x82\xAA\x82\xA0\x82\xE9"
                                            "\x82\xBD\x82\xDF \"script.kvo\" \x82\xCD\x8D\x58\x90"
                                            "\x56\x82\xB3\x82\xEA\x82\xC4\x82\xA2\x82\xDC\x82\xB9"
                                            "\x82\xF1\n\n\x8C\x8B\x89\xCA"));
}

TEST(EndToEnd, SourceDateEpochMakesOutputsReproducible) {
  GameDirectory game;
  game.Write("main.txt", "create_window;\n");
  game.Write("a.png", std::string(1000, 'a'));
  std::string console;
  ASSERT_EQ(0, game.Run("", &console));
  std::string first = game.Read("image.kvo") + game.Read("script.kvo");
  ASSERT_EQ(0, game.Run("", &console));
  EXPECT_EQ(first, game.Read("image.kvo") + game.Read("script.kvo"));
  ASSERT_EQ(0, game.Run("", &console, true, "SOURCE_DATE_EPOCH=1700000099"));
  EXPECT_NE(first, game.Read("image.kvo") + game.Read("script.kvo"));
}

TEST(EndToEnd, OutputThatCannotBeWrittenLeavesTheOldFileAndFails) {
  GameDirectory game;
  game.Write("a.png", "x");
  game.Write("b.wav", "y");
  game.Write("audio.kvo", "old archive");
  const std::string output = "missing" + std::string(1, kNativeSeparator) + "image.kvo";
  std::string console;
  EXPECT_EQ(1, game.Run("-io " + output, &console));
  EXPECT_NE(std::string::npos,
            console.find("内部エラー : KCFile::FileClose(2) ファイルへの書き込みに失敗\n"
                         "内部エラー : GenImgAdoObject(6) オブジェクトの出力に失敗\n"
                         "\"" + output + "\" に書き込めませんでした: " +
                         SystemReasonForOutput(game.Path(output)) +
                         "\nイメージファイルコンバート 終了!!\n"))
      << console;
  EXPECT_EQ("old archive", game.Read("audio.kvo")) << "the kinds after a failure are not written";
  EXPECT_EQ(std::string::npos, console.find("オーディオ"));
}

TEST(EndToEnd, ReadOnlyOutputIsNotReplaced) {
  GameDirectory game;
  game.Write("main.txt", "create_window;\n");
  game.Write("script.kvo", "old object");
  // Read-only for its owner: mode 0444 on POSIX, the read-only attribute on Windows.
  namespace fs = std::filesystem;
  fs::permissions(game.Path("script.kvo"), fs::perms::owner_write | fs::perms::group_write |
                                               fs::perms::others_write,
                  fs::perm_options::remove);
  std::string console;
  EXPECT_EQ(1, game.Run("", &console));
  EXPECT_NE(std::string::npos,
            console.find("内部エラー : KCFile::FileClose(2) ファイルへの書き込みに失敗\n"
                         "\"script.kvo\" に書き込めませんでした: " +
                         SystemReasonForOutput(game.Path("script.kvo")) +
                         "\nエラーがあるため \"script.kvo\" は更新されていません\n"))
      << console;
  EXPECT_EQ("old object", game.Read("script.kvo"));
  fs::permissions(game.Path("script.kvo"), fs::perms::owner_write, fs::perm_options::add);
}

// A file system that removes a directory right after its parent has been
// listed, as another program might while the converter walks the tree.
class VanishingDirectory : public FileSystem {
 public:
  VanishingDirectory(std::string parent, std::string victim)
      : parent_(std::move(parent)), victim_(std::move(victim)) {}
  char Separator() const override { return real_.Separator(); }
  bool CurrentDirectory(std::string* path) override { return real_.CurrentDirectory(path); }
  bool ListDirectory(const std::string& directory, std::vector<DirectoryEntry>* entries) override {
    bool ok = real_.ListDirectory(directory, entries);
    if (directory == parent_) std::filesystem::remove_all(victim_);
    return ok;
  }
  bool FileKey(const std::string& path, std::string* key) override {
    return real_.FileKey(path, key);
  }
  bool Exists(const std::string& path) override { return real_.Exists(path); }
  std::string AbsolutePath(const std::string& path) override { return real_.AbsolutePath(path); }
  bool ReadFile(const std::string& path, std::string* contents, std::string* err) override {
    return real_.ReadFile(path, contents, err);
  }
  std::unique_ptr<InputFile> OpenInput(const std::string& path, std::string* err) override {
    return real_.OpenInput(path, err);
  }
  std::unique_ptr<OutputFile> CreateOutput(const std::string& path, std::string* err) override {
    return real_.CreateOutput(path, err);
  }
  void RemoveLeftoverTemporaryFiles(const std::string& directory,
                                    std::vector<std::string>* removed) override {
    real_.RemoveLeftoverTemporaryFiles(directory, removed);
  }

 private:
  FileSystem& real_ = RealFileSystem();
  std::string parent_;
  std::string victim_;
};

TEST(EndToEnd, ADirectoryThatVanishesMidSearchFailsTheRunAndKeepsOldOutputs) {
  GameDirectory game;
  game.Write("a.png", "a");
  game.Write("gone/b.png", "b");
  game.Write("image.kvo", "old archive");
  const std::string top = game.root() + kNativeSeparator;
  VanishingDirectory fs(top, game.Path("gone"));
  StringSink sink;
  ConverterEnvironment env{fs, sink, ConsoleEncoding::kUtf8, [] { return 1u; }, nullptr};
  EXPECT_EQ(1, RunConverter({"KVConverter", "-td", top, "-so", game.Path("script.kvo"), "-io",
                             game.Path("image.kvo")},
                            env));
  EXPECT_NE(std::string::npos, sink.text.find("ファイル \"" + game.Path("gone") +
                                              "\" が見つかりませんでした\n"))
      << sink.text;
  EXPECT_NE(std::string::npos, sink.text.find("main(1) ファイル検索に失敗\n"));
  EXPECT_EQ("old archive", game.Read("image.kvo"));
}

TEST(EndToEnd, EngineDirectoryGetsTheSystemSeparatorAppended) {
  GameDirectory game;
  game.Write("main.txt", "create_window;\n");
  std::string console;
  ASSERT_EQ(0, game.Run("-xd " + game.root(), &console)) << console;
  std::string object = Unscrambled(game.Read("script.kvo"));
  const std::string stored = game.root() + kNativeSeparator;
  const uint32_t length = static_cast<uint32_t>(stored.size());
  std::string field(reinterpret_cast<const char*>(&length), 4);  // little-endian machines
  EXPECT_NE(std::string::npos, object.find(field + stored)) << "engine directory field";
}

// CP932 names joined with the system's separator.
std::string NativePath(std::initializer_list<std::string> names) {
  std::string path;
  for (const std::string& name : names) {
    if (!path.empty()) path.push_back(kNativeSeparator);
    path += name;
  }
  return path;
}

TEST(EndToEnd, JapaneseNamesAreStoredAsTheScriptsNameThem) {
  // ゲーム, シナリオ, 第一章.txt, 画像, 背景.png, and ソフト and 表.png, which
  // end in the byte 0x5C, in CP932.
  const std::string game_cp932 = "\x83\x51\x81\x5B\x83\x80";
  const std::string scenario = "\x83\x56\x83\x69\x83\x8A\x83\x49";
  const std::string chapter = "\x91\xE6\x88\xEA\x8F\xCD.txt";
  const std::string pictures = "\x89\xE6\x91\x9C";
  const std::string background = "\x94\x77\x8C\x69.png";
  const std::string soft = "\x83\x5C\x83\x74\x83\x67";
  const std::string table = "\x95\x5C.png";
  GameDirectory game;
  game.Write("ゲーム/main.txt", "create_window;\nlayer bg, \"" + pictures + "/" + background +
                                  "\";\nlayer t, \"" + soft + "/" + table +
                                  "\";\nscript_change \"" + scenario + "/" + chapter + "\";\n");
  game.Write("ゲーム/シナリオ/第一章.txt", "text a;\n");
  game.Write("ゲーム/画像/背景.png", "bg");
  game.Write("ゲーム/ソフト/表.png", "table");
  std::string console;
  ASSERT_EQ(0, game.Run("-xd ゲーム -td ゲーム", &console)) << console;
  EXPECT_NE(std::string::npos,
            console.find(game.Path("ゲーム/シナリオ/第一章.txt") + " をコンバート中...\n"));
  const std::string top = NativePath({game.root(), game_cp932});
  const std::string script = Unscrambled(game.Read("script.kvo"));
  EXPECT_NE("", ScriptCode(script, NativePath({top, scenario, chapter})));
  EXPECT_NE(std::string::npos, script.find(top + kNativeSeparator)) << "engine directory";
  const std::string image = Unscrambled(game.Read("image.kvo"));
  EXPECT_EQ(std::string("bg", 3), ScriptCode(image, NativePath({top, pictures, background})));
  EXPECT_EQ(std::string("table", 6), ScriptCode(image, NativePath({top, soft, table})));

  // kvdump prints the names in the console's encoding, and extracts them to
  // the names they came from, into a folder named in Japanese.
  ASSERT_EQ(0, game.RunTool(KV_KVDUMP_NAME, "image.kvo", &console)) << console;
  EXPECT_NE(std::string::npos, console.find(NativePath({game.root(), "ゲーム", "ソフト", "表.png"})))
      << console;
  ASSERT_EQ(0, game.RunTool(KV_KVDUMP_NAME, "-x 展開 image.kvo", &console)) << console;
  std::string below = game.root();
  if (below.size() > 1 && below[1] == ':') below.erase(0, 2);
  std::replace(below.begin(), below.end(), '\\', '/');
  below = "展開" + below + "/ゲーム/";
  EXPECT_EQ("table", game.Read(below + "ソフト/表.png"));
  EXPECT_EQ("bg", game.Read(below + "画像/背景.png"));

  // A name CP932 cannot hold is an error that names it as the search found
  // it; the rest is packed. UTF-8 is asked for, so that the name is printed
  // whole even where a pipe gets CP932 (Windows).
  game.Write("ゲーム/\xF0\x9F\x98\x80.png", "emoji");
  ProgramRun run = RunProgram(ExecutableDirectory() + KV_CONVERTER_NAME,
                              {"-xd", "ゲーム", "-td", "ゲーム", "--console-encoding=utf-8"},
                              game.root(), {"LC_ALL=C.UTF-8"});
  console = run.output;
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos,
            console.find("エラー : \"ゲーム" + std::string(1, kNativeSeparator) +
                         "\xF0\x9F\x98\x80.png\" の名前は Shift_JIS (CP932) で表せません\n"))
      << console;
  EXPECT_EQ(image, Unscrambled(game.Read("image.kvo")));
}

}  // namespace
}  // namespace kv
