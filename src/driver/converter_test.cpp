#include "driver/converter.h"

#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "test_support/conversion_harness.h"

namespace kv {
namespace {

constexpr char kNothingFound[] = "\"/game/\" 以下にコンバートするファイルが見つかりませんでした\n";

TEST(RunSequence, EmptyDirectoryPrintsWhereItLookedAndTheResult) {
  MemoryFileSystem fs("/game");
  ConversionRun run = RunConversion(fs);
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(std::string(kNothingFound) + "\n結果 : 成功 / エラー 0件 / 警告 0件\n", run.console);
}

TEST(RunSequence, ScriptsWithoutMainScriptWriteNothing) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/other.txt", "text a;");
  fs.AddFile("/game/bg.png", "png");
  ConversionRun run = RunConversion(fs);
  EXPECT_EQ(1, run.status);
  EXPECT_EQ(std::string("\nスクリプトファイルコンバート 開始!!\n"
                        "エラー : メインスクリプトが \"/game/\" ディレクトリに見つかりませんでした\n"
                        "エラーがあるため \"script.kvo\" は更新されていません\n"
                        "エラーがあるため \"image.kvo\" は更新されていません\n"
                        "\n結果 : 失敗 / エラー 1件 / 警告 0件\n"),
            run.console);
  EXPECT_FALSE(fs.HasFile("/game/image.kvo"));
}

TEST(RunSequence, ScriptsDisabledStillPacksMedia) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt", "create_window;");
  fs.AddFile("/game/bg.png", "png");
  fs.AddFile("/game/se.wav", "");
  ConversionRun run = RunConversion(fs, {"-s", "-ao", "sound.kvo"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(std::string("\nイメージファイルコンバート 開始!!\n/game/bg.png をコンバート中...\n"
                        "イメージファイルコンバート 終了!!\n"
                        "\nオーディオファイルコンバート 開始!!\n/game/se.wav をコンバート中...\n"
                        "オーディオファイルコンバート 終了!!\n"
                        "\n結果 : 成功 / エラー 0件 / 警告 0件\n"),
            run.console);
  EXPECT_FALSE(fs.HasFile("/game/script.kvo"));
  EXPECT_EQ(Bytes("4B 56 41 23 00 00 00 01 00 00 00 0C 00 00 00") + "/game/se.wav" +
                Bytes("23 00 00 00 01 00 00 00 00"),
            ReadObject(fs, "/game/sound.kvo"));
}

TEST(RunSequence, OptionErrorEndsAtTheSummaryWithFailure) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/bg.png", "png");
  ConversionRun run = RunConversion(fs, {"-ed", "x"});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ(std::string("エラー : 不明なオプションです \"e\"\n"
                        "備考 : オプションの一覧は KVConverter --help で表示できます\n"
                        "\n結果 : 失敗 / エラー 1件 / 警告 0件\n"),
            run.console);
  EXPECT_FALSE(fs.HasFile("/game/image.kvo"));
}

TEST(RunSequence, AWordWithoutACp932FormIsAnOptionErrorInTheChosenEncoding) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/bg.png", "png");
  StringSink sink;
  ConverterEnvironment env{fs, sink, ConsoleEncoding::kUtf8, [] { return 1u; }, nullptr};
  env.unconvertible_argument = "\xF0\x9F\x98\x80";
  EXPECT_EQ(1, RunConverter({"KVConverter", "-td", "?", "--console-encoding=cp932"}, env));
  // "エラー : "😀" の名前は Shift_JIS (CP932) で表せません" in CP932, the emoji
  // as "?"; then "結果 : 失敗 / エラー 1件 / 警告 0件".
  EXPECT_EQ("\x83\x47\x83\x89\x81\x5B : \"?\" \x82\xCC\x96\xBC\x91\x4F\x82\xCD Shift_JIS (CP932) "
            "\x82\xC5\x95\x5C\x82\xB9\x82\xDC\x82\xB9\x82\xF1\n"
            "\n\x8C\x8B\x89\xCA : \x8E\xB8\x94\x73 / \x83\x47\x83\x89\x81\x5B 1\x8C\x8F / "
            "\x8C\x78\x8D\x90 0\x8C\x8F\n",
            sink.text);
  EXPECT_FALSE(fs.HasFile("/game/image.kvo")) << "nothing is searched or written";
}

TEST(RunSequence, SearchFailuresAreReportedOnce) {
  // A script that cannot be loaded has told why: no internal error follows,
  // and the script object it keeps from being written is named, even when
  // it is the first script found.
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt", "create_window;\n\ntext a; /* never closed\n");
  ConversionRun run = RunConversion(fs);
  EXPECT_EQ(std::string("エラー : /game/main.txt 3 行目 コメントの終端が見つかりませんでした\n"
                        "エラーがあるため \"script.kvo\" は更新されていません\n"
                        "\n結果 : 失敗 / エラー 1件 / 警告 0件\n"),
            run.console);
}

TEST(RunSequence, PromptOnlyWhenSomebodyCanPressEnter) {
  MemoryFileSystem fs("/game");
  StringSink sink;
  int waits = 0;
  ConverterEnvironment env{fs, sink, ConsoleEncoding::kUtf8, [] { return 1u; }, [&] { ++waits; }};
  EXPECT_EQ(0, RunConverter({"KVConverter"}, env));
  EXPECT_EQ(std::string(kNothingFound) + "\n結果 : 成功 / エラー 0件 / 警告 0件\n\nEnterキーを押してください。",
            sink.text);
  EXPECT_EQ(1, waits);
}

TEST(RunSequence, MissingCodePageConversionIsReportedAtStart) {
  MemoryFileSystem fs("/game");
  StringSink sink;
  ConverterEnvironment env{fs, sink, ConsoleEncoding::kUtf8, [] { return 1u; }, nullptr, false};
  EXPECT_EQ(0, RunConverter({"KVConverter"}, env));
  EXPECT_EQ("警告 : CP932 の文字コード変換が使えないため、メッセージとスクリプトの文字は変換せずに表示します\n" +
                std::string(kNothingFound) + "\n結果 : 成功 / エラー 0件 / 警告 1件\n",
            sink.text);
}

TEST(RunSequence, RelativeEngineDirectoryFindsItsMainScript) {
  MemoryFileSystem fs("/work");
  fs.AddFile("/work/game/main.txt", "create_window;\n");
  ConversionRun run = RunConversion(fs, {"-xd", "game", "-td", "game"});
  EXPECT_EQ(0, run.status) << run.console;
  EXPECT_NE(std::string::npos, ReadObject(fs, "/work/script.kvo").find("/work/game/"));
}

TEST(RunSequence, Utf8ByteOrderMarkIsNamedOnceWhereTheFileBeginsWithIt) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt", "\xEF\xBB\xBF;\ncreate_window;\ntext \"\xEF\xBB\xBF\";\n");
  // After a comment the mark is text of the script, not the file's first bytes.
  fs.AddFile("/game/other.txt", "/*x*/\xEF\xBB\xBF;\n");
  ConversionRun run = RunConversion(fs);
  EXPECT_EQ(std::string("\nスクリプトファイルコンバート 開始!!\n"
                        "/game/main.txt をコンバート中...\n"
                        "警告 : /game/main.txt 1 行目 ファイルの先頭に UTF-8 の BOM があります。"
                        "スクリプトは Shift_JIS (CP932) で保存するか、--source-encoding=utf-8 "
                        "を指定してください\n"
                        "/game/other.txt をコンバート中...\n"
                        "スクリプトファイルコンバート 終了!!\n"
                        "\n結果 : 成功 / エラー 0件 / 警告 1件\n"),
            run.console);
}

TEST(RunSequence, ScriptsSavedAsUtf8CompileAsTheirCp932Text) {
  // "ゲーム〜" in CP932, "〜" taking the code of its look-alike "～".
  const std::string cp932 = "create_window;\n\ntext \"\x83\x51\x81\x5B\x83\x80\x81\x60\";\n";
  MemoryFileSystem cp932_fs("/game"), utf8_fs("/game");
  cp932_fs.AddFile("/game/main.txt", cp932);
  utf8_fs.AddFile("/game/main.txt",
                  "\xEF\xBB\xBF" "create_window;\n// \xF0\x9F\x98\x80\ntext \"ゲーム〜\";\n");
  ConversionRun expected = RunConversion(cp932_fs);
  ConversionRun run = RunConversion(utf8_fs, {"--source-encoding=utf-8"});
  ASSERT_EQ(0, run.status) << run.console;
  EXPECT_EQ(expected.console, run.console) << "no mark warned of, no comment converted";
  EXPECT_EQ(ScriptCode(ReadObject(cp932_fs, "/game/script.kvo"), "/game/main.txt"),
            ScriptCode(ReadObject(utf8_fs, "/game/script.kvo"), "/game/main.txt"));

  utf8_fs.AddFile("/game/main.txt",
                  "create_window;\ntext \"\xF0\x9F\x98\x80\xED\x95\x9C\";\n\ntext \"\xFF\";\n");
  run = RunConversion(utf8_fs, {"--source-encoding=utf-8"});
  EXPECT_EQ(std::string("\nスクリプトファイルコンバート 開始!!\n"
                        "/game/main.txt をコンバート中...\n"
                        "エラー : /game/main.txt 2 行目 文字 \"\xF0\x9F\x98\x80\" は Shift_JIS (CP932) "
                        "で表せません\n"
                        "エラー : /game/main.txt 4 行目 UTF-8 として読めないバイト 0xFF があります\n"
                        "スクリプトファイルコンバート 終了!!\n"
                        "エラーがあるため \"script.kvo\" は更新されていません\n"
                        "\n結果 : 失敗 / エラー 2件 / 警告 0件\n"),
            run.console);
}

TEST(RunSequence, CheckReportsWhatABuildReportsAndWritesNothing) {
  for (bool unreadable_image : {false, true}) {
    MemoryFileSystem build_fs("/game"), check_fs("/game");
    for (MemoryFileSystem* fs : {&build_fs, &check_fs}) {
      fs->AddFile("/game/main.txt",
                  "create_window;\nfunction f;\nfunction_end;\nx = 1;\nscript_load \"b.txt\";\n");
      fs->AddFile("/game/b.txt", "function_call f;\ntext a\n");
      fs->AddFile("/game/bg.png", "png");
      fs->AddFile("/game/se.wav", "wav");
      if (unreadable_image) fs->unreadable.insert("/game/bg.png");
    }
    ConversionRun build = RunConversion(build_fs);
    ConversionRun check = RunConversion(check_fs, {"--check"});
    EXPECT_EQ(build.console, check.console);
    EXPECT_EQ(build.status, check.status);
    EXPECT_TRUE(build_fs.HasFile("/game/script.kvo"));
    EXPECT_EQ(!unreadable_image, build_fs.HasFile("/game/audio.kvo"));
    for (const char* name : {"script.kvo", "image.kvo", "audio.kvo", "movie.kvo"}) {
      EXPECT_FALSE(check_fs.HasFile(std::string("/game/") + name)) << name;
    }
    EXPECT_EQ(0, check_fs.open_outputs);
  }
}

TEST(RunSequence, CheckTriesEveryOutputAsABuildWritesIt) {
  // An output in a folder that does not exist, and one that is a folder.
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"-so", "nodir/x.kvo"}, {"-io", "imgdir"}}) {
    MemoryFileSystem build_fs("/game"), check_fs("/game");
    for (MemoryFileSystem* fs : {&build_fs, &check_fs}) {
      fs->AddFile("/game/main.txt", "create_window;\n");
      fs->AddFile("/game/bg.png", "png");
      fs->AddDirectory("/game/imgdir");
    }
    ConversionRun build = RunConversion(build_fs, args);
    std::vector<std::string> check_args = args;
    check_args.push_back("--check");
    ConversionRun check = RunConversion(check_fs, check_args);
    EXPECT_EQ(1, check.status);
    EXPECT_EQ(build.console, check.console);
    EXPECT_EQ(2u, check_fs.Files().size()) << "a check writes no file";
    EXPECT_EQ(0, check_fs.open_outputs);
  }
}

TEST(RunSequence, ArchivesAFailureKeptFromBeingWrittenAreNamed) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt", "create_window;\n");
  fs.AddFile("/game/bg.png", "png");
  fs.AddFile("/game/se.wav", "wav");
  fs.unwritable.insert("/game/script.kvo");
  ConversionRun run = RunConversion(fs);
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos,
            run.console.find("\"script.kvo\" に書き込めませんでした: Permission denied\n"
                             "エラーがあるため \"script.kvo\" は更新されていません\n"
                             "エラーがあるため \"image.kvo\" は更新されていません\n"
                             "エラーがあるため \"audio.kvo\" は更新されていません\n"
                             "\n結果 : 失敗"))
      << run.console;
}

// A console that takes nothing: every write fails.
class LostSink : public MessageSink {
 public:
  void Write(std::string_view) override {}
  bool Intact(std::string* reason) const override {
    *reason = "No space left on device";
    return false;
  }
  void WriteFailure(std::string_view bytes) override { failure.append(bytes); }
  std::string failure;
};

TEST(RunSequence, OutputThatReachesNobodyFailsTheRun) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt", "create_window;\n");
  LostSink sink;
  ConverterEnvironment env{fs, sink, ConsoleEncoding::kUtf8, [] { return 1u; }, nullptr};
  EXPECT_EQ(1, RunConverter({"KVConverter"}, env));
  EXPECT_EQ("標準出力に書き込めませんでした: No space left on device\n", sink.failure);
  EXPECT_TRUE(fs.HasFile("/game/script.kvo")) << "the conversion itself succeeded";
  sink.failure.clear();
  EXPECT_EQ(1, RunConverter({"KVConverter", "--help"}, env));
  EXPECT_EQ("標準出力に書き込めませんでした: No space left on device\n", sink.failure);
}

TEST(RunSequence, InterruptLineIsGivenInTheConsolesEncoding) {
  MemoryFileSystem fs("/game");
  StringSink sink;
  std::string line;
  ConverterEnvironment env{fs, sink, ConsoleEncoding::kCp932, [] { return 1u; }, nullptr, true, "",
                           [&](std::string_view bytes) { line = bytes; }};
  RunConverter({"KVConverter", "-h"}, env);
  EXPECT_EQ("\x92\x86\x92\x66\x82\xB5\x82\xDC\x82\xB5\x82\xBD\n", line);  // 中断しました
}

TEST(RunSequence, GnuDiagnostics) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt", "create_window;\nx = (1;\ntext a\n");
  fs.AddFile("/game/bg.png", "png");
  fs.unwritable.insert("/game/image.kvo");
  ConversionRun run = RunConversion(fs, {"--diagnostics=gnu"});
  EXPECT_EQ(std::string("\nスクリプトファイルコンバート 開始!!\n"
                        "/game/main.txt をコンバート中...\n"
                        "/game/main.txt:2:5: error: ) がありません\n"
                        "/game/main.txt:3:1: warning: ; がないためファイルの終端のコマンドを無視しました\n"
                        "スクリプトファイルコンバート 終了!!\n"
                        "\nイメージファイルコンバート 開始!!\n"
                        "/game/bg.png をコンバート中...\n"
                        "image.kvo: error: KCFile::FileClose(2) ファイルへの書き込みに失敗\n"
                        "image.kvo: error: GenImgAdoObject(6) オブジェクトの出力に失敗\n"
                        "\"image.kvo\" に書き込めませんでした: Permission denied\n"
                        "イメージファイルコンバート 終了!!\n"
                        "エラーがあるため \"script.kvo\" は更新されていません\n"
                        "\n結果 : 失敗 / エラー 3件 / 警告 1件\n"),
            run.console);
  run = RunConversion(fs, {"--diagnostics=gnu", "-q"});
  EXPECT_EQ("KVConverter: error: 不明なオプションです \"q\"\n"
            "KVConverter: note: オプションの一覧は KVConverter --help で表示できます\n"
            "\n結果 : 失敗 / エラー 1件 / 警告 0件\n",
            run.console);
}

TEST(RunSequence, HelpPrintsNoSummary) {
  MemoryFileSystem fs("/game");
  ConversionRun run = RunConversion(fs, {"-h"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(std::string::npos, run.console.find("結果"));
}

TEST(RunSequence, MainScriptWithoutCreateWindowRunsInTheSetupPhase) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt", "value x;\n");
  fs.AddFile("/game/sub.txt", "x = 1;\n");
  ConversionRun run = RunConversion(fs);
  EXPECT_EQ(0, run.status) << run.console;
  EXPECT_EQ(std::string("\nスクリプトファイルコンバート 開始!!\n"
                        "/game/main.txt をコンバート中...\n"
                        "/game/sub.txt をコンバート中...\n"
                        "スクリプトファイルコンバート 終了!!\n"
                        "\n結果 : 成功 / エラー 0件 / 警告 0件\n"),
            run.console);
  std::string object = ReadObject(fs, "/game/script.kvo");
  EXPECT_EQ(Bytes("01 00 00 00 00 04 01 04 01 20 01 00 00 00 78 01 BA 01 00 00 04 00"),
            ScriptCode(object, "/game/main.txt"));
}

TEST(RunSequence, FailedSetupStatementEndsConversionButPacksMedia) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt", "layer_show a, 1, 2;\ncreate_window;\n");
  fs.AddFile("/game/bg.png", "");
  ConversionRun run = RunConversion(fs);
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos,
            run.console.find("エラー : /game/main.txt 1 行目 "
                             "コマンドパラメータの指定数が間違っています\n"
                             "備考 : /game/main.txt 1 行目 \"layer_show\" は create_window "
                             "より前には使えないコマンドです\n"
                             "スクリプトファイルコンバート 終了!!\n"
                             "\nイメージファイルコンバート 開始!!\n"));
  EXPECT_FALSE(fs.HasFile("/game/script.kvo"));
  EXPECT_TRUE(fs.HasFile("/game/image.kvo"));
}

TEST(RunSequence, AnOutputThatIsAnInputFailsTheRunBeforeAnythingIsWritten) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt", "create_window;\n");
  fs.AddFile("/game/img/bg.png", "png");
  fs.AddHardLink("/game/img/bg.png", "/game/link.kvo");
  const MemoryFileSystem pristine = fs;
  ConversionRun run = RunConversion(fs, {"-so", "main.txt"});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ(std::string("\nスクリプトファイルコンバート 開始!!\n"
                        "/game/main.txt をコンバート中...\n"
                        "スクリプトファイルコンバート 終了!!\n"
                        "エラー : 出力ファイル \"main.txt\" は入力ファイルです\n"
                        "エラーがあるため \"main.txt\" は更新されていません\n"
                        "エラーがあるため \"image.kvo\" は更新されていません\n"
                        "\n結果 : 失敗 / エラー 1件 / 警告 0件\n"),
            run.console);
  EXPECT_EQ(pristine.Files(), fs.Files()) << "nothing is written";
  // A second name of a media file, in a check.
  run = RunConversion(fs, {"--check", "-io", "link.kvo"});
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos, run.console.find("エラー : 出力ファイル \"link.kvo\" は入力ファイルです\n"))
      << run.console;
}

TEST(RunSequence, AnOutputThatIsAFifoOrDeviceIsRefusedBeforeAnythingIsWritten) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt", "create_window;\n");
  fs.AddFile("/game/bg.png", "png");
  fs.AddSpecialFile("/dev/null");
  const MemoryFileSystem pristine = fs;
  for (const char* check : {"", "--check"}) {
    SCOPED_TRACE(check);
    std::vector<std::string> args{"-io", "/dev/null"};
    if (*check != '\0') args.push_back(check);
    ConversionRun run = RunConversion(fs, args);
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos,
              run.console.find("スクリプトファイルコンバート 終了!!\n"
                               "エラー : 出力ファイル \"/dev/null\" は通常のファイルではありません\n"
                               "エラーがあるため \"script.kvo\" は更新されていません\n"))
        << run.console;
    EXPECT_EQ(pristine.Files(), fs.Files()) << "nothing is written, not even the script object";
  }
  std::string err;
  EXPECT_EQ(nullptr, fs.CreateOutput("/dev/null", &err));
  EXPECT_EQ(kReasonNotRegularFile, err);
}

TEST(RunSequence, LeftoversOfKilledRunsGoFromBesideTheOutputsOnly) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/bg.png", "png");
  fs.AddFile("/game/se.wav", "wav");
  const std::string ended = TemporaryFileName(41, 0), alive = TemporaryFileName(42, 0);
  fs.live_processes.insert(42);
  for (const std::string dir : {"/game/", "/out/", "/game/sub/"}) {
    fs.AddFile(dir + ended, "left");
    fs.AddFile(dir + alive, "writing");
  }
  fs.AddFile("/game/.kvtmp-41-00000", "not the program's");
  const MemoryFileSystem pristine = fs;
  EXPECT_EQ(0, RunConversion(fs, {"--check", "-io", "/out/image.kvo"}).status);
  EXPECT_EQ(pristine.Files(), fs.Files()) << "a check removes nothing";

  ConversionRun run = RunConversion(fs, {"-io", "/out/image.kvo"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("前回の中断で残った一時ファイル \"/out/" + ended + "\" を削除しました\n"
            "前回の中断で残った一時ファイル \"" + ended + "\" を削除しました\n"
            "\nイメージファイルコンバート 開始!!\n",
            run.console.substr(0, run.console.find("/game/bg.png")));
  EXPECT_FALSE(fs.HasFile("/out/" + ended));
  EXPECT_FALSE(fs.HasFile("/game/" + ended));
  EXPECT_TRUE(fs.HasFile("/game/sub/" + ended)) << "no output is written there";
  for (const std::string dir : {"/game/", "/out/", "/game/sub/"}) EXPECT_TRUE(fs.HasFile(dir + alive));
  EXPECT_TRUE(fs.HasFile("/game/.kvtmp-41-00000"));
}

}  // namespace
}  // namespace kv
