#include "context/diagnostics.h"

#include <gtest/gtest.h>

#include "test_support/memory_file_system.h"
#include "context/pell_file.h"

namespace kv {
namespace {

TEST(Diagnostics, FormatsLabelsPathsAndLinesAndCountsByKind) {
  StringSink out;
  Diagnostics log(out, ConsoleEncoding::kUtf8);
  MemoryFileSystem fs;
  KCFile source(fs);
  source.path = "/game/100%s.txt";
  source.line = 12;
  const KCFile* current = nullptr;
  log.set_current_source(&current);

  log.Error("不明なオプションです \"%c\"\n", {LogArg::Char('q')});
  current = &source;
  log.Error("\"%s\" 文法が間違っています\n", {")"});
  log.Warning("コマンド \"%s\" は既に定義されています\n", {"show"});
  log.InternalError("GenScrObject(%d) x\n", {2});
  log.Message("%s をコンバート中...\n", {LogArg::Path(source.path)});

  EXPECT_EQ(
      "エラー : 不明なオプションです \"q\"\n"
      "エラー : /game/100%s.txt 12 行目 \")\" 文法が間違っています\n"
      "警告 : /game/100%s.txt 12 行目 コマンド \"show\" は既に定義されています\n"
      "内部エラー : /game/100%s.txt 12 行目 GenScrObject(2) x\n"
      "/game/100%s.txt をコンバート中...\n",
      out.text);
  EXPECT_EQ(3, log.errorCount);
  EXPECT_EQ(2, log.errorsSinceLimit) << "internal errors do not count toward the limit";
  EXPECT_EQ(1, log.warningCount);
}

TEST(Diagnostics, Cp932ConsoleGetsTheProgramsBytesUnchangedScriptText) {
  StringSink out;
  Diagnostics log(out, ConsoleEncoding::kCp932);
  // "テスト" in CP932, as a script would hold it.
  const std::string script_word = "\x83\x65\x83\x58\x83\x67";
  log.Error("\"%s\" 文法が間違っています\n", {script_word});
  EXPECT_EQ("\x83\x47\x83\x89\x81\x5B : \"" + script_word +
                "\" \x95\xB6\x96\x40\x82\xAA\x8A\xD4\x88\xE1\x82\xC1\x82\xC4\x82\xA2\x82\xDC"
                "\x82\xB7\n",
            out.text);
}

TEST(Diagnostics, Utf8ConsoleConvertsScriptTextAndPaths) {
  StringSink out;
  Diagnostics log(out, ConsoleEncoding::kUtf8);
  log.Message("%s|%s\n", {std::string("\x83\x65\x83\x58\x83\x67\xFF"), LogArg::Path("\xFF.png")});
  // The path of a script "/ソフト/表.txt", in both forms of the prefix.
  const std::string path = "/\x83\x5C\x83\x74\x83\x67/\x95\x5C.txt";
  log.WarningAt(path, 2, "x\n");
  log.set_style(DiagnosticsStyle::kGnu);
  log.WarningAt(path, 2, "x\n");
  EXPECT_EQ("テスト\xEF\xBF\xBD|\xEF\xBF\xBD.png\n"
            "警告 : /ソフト/表.txt 2 行目 x\n"
            "/ソフト/表.txt:2: warning: x\n",
            out.text);
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

TEST(DebugCheckDeathTest, StopsTheProgramWhenEnabled) {
  EnableDebugChecks();
  DebugCheck(true, "holds");
  EXPECT_DEATH(DebugCheck(false, "a statement failed without telling why"),
               "debug check failed: a statement failed without telling why");
}

}  // namespace
}  // namespace kv
