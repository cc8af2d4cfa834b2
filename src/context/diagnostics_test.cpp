#include "context/diagnostics.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support/memory_file_system.h"
#include "context/source_text.h"

namespace kv {
namespace {

TEST(Diagnostics, FormatsLabelsPathsAndLinesAndCountsByKind) {
  StringSink out;
  Diagnostics log(out, ConsoleEncoding::kUtf8);
  MemoryFileSystem fs;
  SourceText source(fs);
  source.path = "/game/100%s.txt";
  source.line = 12;
  const SourceText* current = nullptr;
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
  log.WarningAt({path, 2}, "x\n");
  log.set_style(DiagnosticsStyle::kGnu);
  log.WarningAt({path, 2}, "x\n");
  EXPECT_EQ("テスト\xEF\xBF\xBD|\xEF\xBF\xBD.png\n"
            "警告 : /ソフト/表.txt 2 行目 x\n"
            "/ソフト/表.txt:2: warning: x\n",
            out.text);
}

// Keeps every record the diagnostics report, as a line of text.
class RecordingListener : public DiagnosticListener {
 public:
  void OnDiagnostic(const Diagnostic& d) override {
    static const char* const kKinds[] = {"error", "warning", "internal", "note"};
    std::string line = std::string(kKinds[static_cast<int>(d.kind)]) + " " + std::string(d.place.path) +
                       ":" + std::to_string(d.place.line) + ":" + std::to_string(d.place.column) +
                       " [" + std::string(d.check) + "] " + std::string(d.message);
    for (const RelatedPlace& r : d.related) {
      line += " {" + std::string(r.what) + " " + std::to_string(r.place.line) + ":" +
              std::to_string(r.place.column) + "}";
    }
    records.push_back(line);
  }
  std::vector<std::string> records;
};

TEST(Diagnostics, GnuFormShowsColumnsFilesAndEachLineOfAMessage) {
  StringSink out;
  Diagnostics log(out, ConsoleEncoding::kUtf8);
  log.set_style(DiagnosticsStyle::kGnu);
  log.ErrorAt({"/game/main.txt", 3, 7}, "文法が間違っています\n");
  log.Note("問題の字句は \"%s\" です\n", {","});
  // A text of several lines is one diagnostic with notes; a text without
  // its line feed still ends its line.
  log.ErrorAt({"/game/main.txt", 2, 11}, "一行目\n二行目\n");
  log.InternalErrorAt({"image.kvo"}, "GenImgAdoObject(6) x");
  log.WarningAt({"/game/main.txt", 4}, "w\n");
  log.Error("e\n");
  log.NoteAt({}, "n\n");
  EXPECT_EQ(
      "/game/main.txt:3:7: error: 文法が間違っています\n"
      "/game/main.txt:3:7: note: 問題の字句は \",\" です\n"
      "/game/main.txt:2:11: error: 一行目\n"
      "/game/main.txt:2:11: note: 二行目\n"
      "image.kvo: error: GenImgAdoObject(6) x\n"
      "/game/main.txt:4: warning: w\n"
      "KVConverter: error: e\n"
      "KVConverter: note: n\n",
      out.text);
  EXPECT_EQ(4, log.errorCount) << "notes are not counted";
  EXPECT_EQ(1, log.warningCount);
}

TEST(Diagnostics, DesignedFormShowsNotesAndScriptsButNoFileAlone) {
  StringSink out;
  Diagnostics log(out, ConsoleEncoding::kUtf8);
  MemoryFileSystem fs;
  SourceText source(fs);
  source.path = "/game/main.txt";
  source.line = 9;
  const SourceText* current = nullptr;
  log.set_current_source(&current);
  log.InternalErrorAt({"image.kvo"}, "KCFile::FileClose(2) x");
  log.Note("n\n");
  current = &source;
  source.statementLine = 5;
  log.ErrorAt({"/game/a.png"}, "a\n");
  log.Error("ReadCmdLoopEnd(1)");
  log.Note("n\n");
  EXPECT_EQ(
      "内部エラー : KCFile::FileClose(2) x\n"
      "備考 : n\n"
      "エラー : /game/main.txt 5 行目 a\n"
      "エラー : /game/main.txt 5 行目 ReadCmdLoopEnd(1)\n"
      "備考 : /game/main.txt 5 行目 n\n",
      out.text);
}

TEST(Diagnostics, ListenerReceivesEveryRecordWithItsPlaceCheckAndRelatedPlaces) {
  StringSink out;
  Diagnostics log(out, ConsoleEncoding::kUtf8);
  RecordingListener listener;
  log.set_listener(&listener);
  const RelatedPlace first{{"/game/main.txt", 1, 1}, "first-definition"};
  log.WarningAt({"/game/main.txt", 4, 2}, "ラベル \"%s\" は二度目です\n", {"start"},
                {"duplicate-label", std::span<const RelatedPlace>(&first, 1)});
  log.Note("n");
  log.Message("plain\n");
  log.InternalErrorAt({"x.kvo"}, "a\nb\n");
  EXPECT_EQ((std::vector<std::string>{
                "warning /game/main.txt:4:2 [duplicate-label] ラベル \"start\" は二度目です "
                "{first-definition 1:1}",
                "note /game/main.txt:4:2 [] n",
                "internal x.kvo:0:0 [] a\nb",
            }),
            listener.records);
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
