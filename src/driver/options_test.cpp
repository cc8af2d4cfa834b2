#include "driver/options.h"

#include <gtest/gtest.h>

#include "context/kc_system.h"
#include "test_support/memory_file_system.h"

namespace kv {
namespace {

class OptionsTest : public ::testing::Test {
 protected:
  OptionsTest() : fs_("/game"), sys_(fs_, out_, ConsoleEncoding::kUtf8) {
    for (const char* name : {"a.txt", "a.scr", "b.png", "c.wav", "d.avi", "sub/e.png",
                             "sub/deeper/f.png"}) {
      fs_.AddFile(std::string("/game/") + name, "x;");
    }
    fs_.AddFile("/data/g.png", "");
  }

  OptionsResult Parse(std::vector<std::string> words) {
    words.insert(words.begin(), "KVConverter");
    return ParseOptions(sys_, words, &script_found_);
  }

  std::vector<std::string> Scripts() const {
    std::vector<std::string> names;
    for (const auto& [path, object] : sys_.results.Objects) names.push_back(path);
    return names;
  }

  MemoryFileSystem fs_;
  StringSink out_;
  KCSystem sys_;
  bool script_found_ = false;
};

TEST_F(OptionsTest, DefaultsSearchTheCurrentDirectoryForEveryKind) {
  ASSERT_EQ(OptionsResult::kSearched, Parse({}));
  EXPECT_TRUE(script_found_);
  EXPECT_EQ(std::vector<std::string>{"/game/a.txt"}, Scripts());
  EXPECT_EQ((std::vector<std::string>{"/game/b.png", "/game/sub/deeper/f.png", "/game/sub/e.png"}),
            sys_.results.ImageFiles);
  EXPECT_EQ(std::vector<std::string>{"/game/c.wav"}, sys_.results.AudioFiles);
  EXPECT_EQ(std::vector<std::string>{"/game/d.avi"}, sys_.results.MovieFiles);
  EXPECT_EQ("/game/", sys_.options.engineDirectory);
  EXPECT_EQ("script.kvo", sys_.options.scriptObjectName);
  EXPECT_EQ("", out_.text);
}

TEST_F(OptionsTest, ValuesRepeatUntilTheNextOptionAndLettersAreACombination) {
  ASSERT_EQ(OptionsResult::kSearched,
            Parse({"-ES", "scr", "txt", "-so", "out.kvo", "final.kvo", "-l", "1", "-ie", "png",
                   "-i", "-xd", "engine"}));
  EXPECT_EQ((std::vector<std::string>{"/game/a.scr", "/game/a.txt"}), Scripts());
  EXPECT_TRUE(sys_.results.ImageFiles.empty()) << "-i empties the list although png was named";
  EXPECT_EQ("final.kvo", sys_.options.scriptObjectName);
  EXPECT_EQ("/game/engine/", sys_.options.engineDirectory)
      << "made absolute like the scripts' paths";
  ASSERT_EQ(OptionsResult::kSearched, Parse({"-xd", "sub/../x/.", "-xd", "/abs/dir", "-s"}));
  EXPECT_EQ("/abs/dir/", sys_.options.engineDirectory);
  ASSERT_EQ(OptionsResult::kSearched, Parse({"-xd", "sub/../x/.", "-s"}));
  EXPECT_EQ("/game/x/", sys_.options.engineDirectory);
}

TEST_F(OptionsTest, DepthAndSearchDirectory) {
  ASSERT_EQ(OptionsResult::kSearched, Parse({"-l", "0", "-s"}));
  EXPECT_EQ(std::vector<std::string>{"/game/b.png"}, sys_.results.ImageFiles);
  EXPECT_FALSE(script_found_);
  sys_.results.ImageFiles.clear();
  ASSERT_EQ(OptionsResult::kSearched, Parse({"-l", "1", "-s"}));
  EXPECT_EQ(2u, sys_.results.ImageFiles.size());
  sys_.results.ImageFiles.clear();
  ASSERT_EQ(OptionsResult::kSearched, Parse({"-l", "-1", "-l", "many", "-s"}));
  EXPECT_EQ(3u, sys_.results.ImageFiles.size())
      << "-1 is unlimited; a word that is no number is ignored";
  // Read as C's %d: leading white space, a sign, digits, and nothing more.
  for (const char* top_only : {" 0", "\t+0", "0x1", "0.9"}) {
    sys_.results.ImageFiles.clear();
    ASSERT_EQ(OptionsResult::kSearched, Parse({"-l", top_only, "-s"}));
    EXPECT_EQ(1u, sys_.results.ImageFiles.size()) << top_only;
  }
  sys_.results.ImageFiles.clear();
  ASSERT_EQ(OptionsResult::kSearched, Parse({"-td", "/data", "-s"}));
  EXPECT_EQ(std::vector<std::string>{"/data/g.png"}, sys_.results.ImageFiles);
}

TEST_F(OptionsTest, InvalidOptionsAreReportedAndStopParsing) {
  EXPECT_EQ(OptionsResult::kFailed, Parse({"-so", "x.kvo", "-ed", "x"}));
  EXPECT_EQ(OptionsResult::kFailed, Parse({"-q"}));
  EXPECT_EQ(OptionsResult::kFailed, Parse({"stray"}));
  EXPECT_EQ(OptionsResult::kFailed, Parse({"-s", "stray"}));
  EXPECT_EQ(OptionsResult::kFailed, Parse({"-so"}));
  const std::string hint = "備考 : オプションの一覧は KVConverter --help で表示できます\n";
  EXPECT_EQ("エラー : 不明なオプションです \"e\"\n" + hint +
                "エラー : 不明なオプションです \"q\"\n" + hint +
                "エラー : 不明なオプションです \"s\"\n" + hint +
                "エラー : 不明なオプションです \"s\"\n" + hint +
                "エラー : オプション \"-so\" に値が指定されていません\n" + hint,
            out_.text);
  EXPECT_EQ(5, sys_.log.errorCount);
  EXPECT_EQ("script.kvo", sys_.options.scriptObjectName) << "nothing is stored after a bad option";
}

TEST_F(OptionsTest, WordOptions) {
  EXPECT_EQ(OptionsResult::kHelp, Parse({"-so", "x.kvo", "--version", "-q"}));
  EXPECT_EQ("KVConverter 1.5.1\n", out_.text);
  out_.text.clear();
  EXPECT_EQ(OptionsResult::kHelp, Parse({"--help"}));
  EXPECT_EQ(0u, out_.text.find("KVConverter Version 1.5.1 ヘルプ\n"));
  // The options added since the designed help text follow it, one line each.
  EXPECT_NE(std::string::npos,
            out_.text.find(
                "\nh  : ヘルプ表示\n"
                "--check                        : ファイルを書き込まずにコンバートし、エラーと警告を表示する\n"
                "--diagnostics=gnu              : エラーと警告を PATH:LINE:COL: error: MESSAGE の形式で表示する\n"
                "--console-encoding=utf-8|cp932 : 表示の文字コード (デフォルト : ロケールまたはコンソールに合わせる)\n"
                "--source-encoding=utf-8|cp932  : スクリプトファイルの文字コード (デフォルト : cp932)\n"
                "--no-warn=NAME[,NAME...]       : 名前の警告を出さない (unknown-command, "
                "missing-semicolon, string-spans-lines, full-width-punctuation, else-with-condition, "
                "split-word, no-create-window, implicit-multiplication, setup-phase-command, "
                "assignment-in-condition, command-name-as-variable, utf8-script, comment-in-string, missing-file, "
                "duplicate-label, duplicate-function, undefined-label, undefined-function, "
                "undeclared-variable, used-before-declaration, redeclared-variable, unreached-script)\n"
                "--werror                       : 警告があれば失敗とする\n"
                "--route-map=FILE               : --check と同じくコンバートし、ルートマップを FILE (.dot .json .svg) に書き込む\n"
                "--help                         : ヘルプ表示 (h と同じ)\n"
                "--version                      : バージョン表示\n"))
      << out_.text;
  out_.text.clear();
  ASSERT_EQ(OptionsResult::kSearched, Parse({"--check", "-s"}));
  EXPECT_TRUE(sys_.options.checkOnly);
  // Unknown words, other values and values where none is taken are option
  // errors, and nothing is searched.
  sys_.options.checkOnly = false;
  for (std::vector<std::string> words : std::vector<std::vector<std::string>>{
           {"--check", "-x"}, {"--checks"}, {"--diagnostics=msvc"}, {"--check=yes"},
           {"--check", "yes"}, {"--version=2"}, {"--"}, {"--source-encoding=utf-8", "--console-encoding=utf8"},
           {"--source-encoding=UTF-8"}}) {
    EXPECT_EQ(OptionsResult::kFailed, Parse(words)) << words[0];
  }
  EXPECT_FALSE(sys_.options.checkOnly);
  EXPECT_FALSE(sys_.options.sourceIsUtf8);
  EXPECT_TRUE(sys_.results.Objects.empty());
  // A word of two hyphens is named whole.
  const std::string hint = "備考 : オプションの一覧は KVConverter --help で表示できます\n";
  EXPECT_EQ("エラー : 不明なオプションです \"x\"\n" + hint +
                "エラー : 不明なオプションです \"--checks\"\n" + hint +
                "エラー : 不明なオプションです \"--diagnostics=msvc\"\n" + hint +
                "エラー : 不明なオプションです \"--check=yes\"\n" + hint +
                "エラー : 不明なオプションです \"y\"\n" + hint +
                "エラー : 不明なオプションです \"--version=2\"\n" + hint +
                "エラー : 不明なオプションです \"--\"\n" + hint +
                "エラー : 不明なオプションです \"--console-encoding=utf8\"\n" + hint +
                "エラー : 不明なオプションです \"--source-encoding=UTF-8\"\n" + hint,
            out_.text);
  out_.text.clear();
  ASSERT_EQ(OptionsResult::kSearched,
            Parse({"--source-encoding=utf-8", "--console-encoding=cp932", "-s"}));
  EXPECT_TRUE(sys_.options.sourceIsUtf8);
  EXPECT_EQ(ConsoleEncoding::kCp932,
            ConsoleEncodingFor({"KVConverter", "--console-encoding=utf-8", "--console-encoding=cp932"},
                               ConsoleEncoding::kUtf8));
  EXPECT_EQ(ConsoleEncoding::kCp932,
            ConsoleEncodingFor({"KVConverter", "--console-encoding=latin1"}, ConsoleEncoding::kCp932));
}

TEST_F(OptionsTest, NoWarnSwitchesNamedChecksOffAndRefusesUnknownNames) {
  ASSERT_EQ(OptionsResult::kSearched,
            Parse({"--no-warn=unknown-command,missing-file", "--check", "--no-warn=utf8-script", "-s"}));
  EXPECT_FALSE(sys_.options.checks.On(Check::kUnknownCommand));
  EXPECT_FALSE(sys_.options.checks.On(Check::kMissingFile));
  EXPECT_FALSE(sys_.options.checks.On(Check::kUtf8Script));
  EXPECT_TRUE(sys_.options.checks.On(Check::kMissingSemicolon));
  EXPECT_FALSE(sys_.options.warningsAreErrors);
  // A build makes none of the checks; --werror holds for any run.
  ASSERT_EQ(OptionsResult::kSearched, Parse({"--werror", "-s"}));
  EXPECT_FALSE(sys_.options.checks.On(Check::kMissingSemicolon));
  EXPECT_TRUE(sys_.options.warningsAreErrors);
  EXPECT_EQ("", out_.text);
  for (std::string word : {"--no-warn=missing-file,unknown-comand", "--no-warn=", "--no-warn=a,"}) {
    EXPECT_EQ(OptionsResult::kFailed, Parse({"--check", word})) << word;
  }
  const std::string hint = "備考 : オプションの一覧は KVConverter --help で表示できます\n";
  EXPECT_EQ("エラー : --no-warn に不明な警告の名前があります \"unknown-comand\"\n" + hint +
                "エラー : --no-warn に不明な警告の名前があります \"\"\n" + hint +
                "エラー : --no-warn に不明な警告の名前があります \"a\"\n" + hint,
            out_.text);
}

TEST_F(OptionsTest, DirectoryValuesEndingInADoubleByteCharacterGetASeparator) {
  // "ソ" is 83 5C: its second byte is no separator.
  ASSERT_EQ(OptionsResult::kSearched, Parse({"-xd", "\x83\x5C", "-s"}));
  EXPECT_EQ("/game/\x83\x5C/", sys_.options.engineDirectory);
  ASSERT_EQ(OptionsResult::kSearched, Parse({"-xd", "/\x83\x5C\\", "-s"}));
  EXPECT_EQ("/\x83\x5C\\", sys_.options.engineDirectory);
  fs_.AddFile("/game/\x95\x5C/h.png", "");
  sys_.results.ImageFiles.clear();
  ASSERT_EQ(OptionsResult::kSearched, Parse({"-td", "\x95\x5C", "-s"}));
  EXPECT_EQ(std::vector<std::string>{"/game/\x95\x5C/h.png"}, sys_.results.ImageFiles);
}

TEST_F(OptionsTest, ACurrentDirectoryWithoutACp932FormFailsTheRun) {
  fs_.without_cp932_form.insert("/game");
  EXPECT_EQ(OptionsResult::kFailed, Parse({}));
  EXPECT_EQ("エラー : \"/game\" の名前は Shift_JIS (CP932) で表せません\n", out_.text);
  EXPECT_TRUE(sys_.results.Objects.empty());
  EXPECT_EQ(OptionsResult::kHelp, Parse({"-h"})) << "the help needs no directory";
}

TEST_F(OptionsTest, HelpEndsParsingWhereverItStands) {
  EXPECT_EQ(OptionsResult::kHelp, Parse({"-so", "x.kvo", "-h", "-q"}));
  EXPECT_EQ(0u, out_.text.find("KVConverter Version 1.5.1 ヘルプ\n\nKVConverter [-s] [-i]"));
  EXPECT_NE(std::string::npos, out_.text.find("\nh  : ヘルプ表示\n"));
  EXPECT_TRUE(sys_.results.Objects.empty());
}

}  // namespace
}  // namespace kv
