// Common mistakes of a game's author, each with the diagnostic an editor
// reads (file, line and byte column) and the line that says more about it.
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support/conversion_harness.h"

namespace kv {
namespace {

struct Mistake {
  const char* what;
  std::map<std::string, std::string> files;  // below /game; main.txt gets create_window first
  std::vector<std::string> args;             // after --diagnostics=gnu
  std::string message;                       // a whole line of the console
  std::string next;                          // the line right after it (a note); empty: none
};

const Mistake kMistakes[] = {
    {"a parameter too few",
     {{"main.txt", "layer_show bg;\n"}},
     {},
     "/game/main.txt:2:1: error: コマンドパラメータの指定数が間違っています",
     "/game/main.txt:2:1: note: \"layer_show\" のパラメータは 1 個です (指定できる数 : 2 ～ 6 個)"},
    {"two commas, after a comment on the same line",
     {{"main.txt", "/* say */ text a,,b;\n"}},
     {},
     "/game/main.txt:2:18: error: 文法が間違っています",
     "/game/main.txt:2:18: note: 問題の字句は \",\" (18 桁目) です"},
    {"a command's name used as a variable",
     {{"main.txt", "value day @ 1;\nday = 2;\n"}},
     {},
     "/game/main.txt:3:5: error: 文法が間違っています",
     "/game/main.txt:3:1: note: \"day\" はコマンドの名前です。変数の名前には使えません"},
    {"a string left open at the end of the file",
     {{"main.txt", "text \"abc;\n"}},
     {},
     "/game/main.txt:2:11: error: 読み込み中にファイルの終端が見つかりました",
     "/game/main.txt:2:11: note: コマンドの最後に;がないか、endコマンドがない可能性があります"},
    {"a block left open at the end of the file",
     {{"main.txt", "if a;\ntext b;\n"}},
     {},
     "/game/main.txt:3:8: error: \"if\" のブロックが閉じられていません (2 行目で開始)",
     ""},
    {"crossed blocks",
     {{"main.txt", "loop a;\nif b;\nloop_end;\nendif;\n"}},
     {},
     "/game/main.txt:4:1: error: ReadCmdLoopEnd(1)",
     "/game/main.txt:4:1: note: 3 行目で開始した \"if\" のブロックを loop_end より前に閉じてください"},
    {"a bare word with the long vowel mark",
     {{"main.txt", "text \x83\x51\x81\x5B;\n"}},
     {},
     "/game/main.txt:2:1: error: GetElementForCalc(1) Monomial(1) 要素取得に失敗",
     "/game/main.txt:2:8: note: \"ー\" の 2 バイト目が記号 \"[\" として読まれ、語が分かれています。"
     "語を \"\" で囲んで文字列にしてください"},
    {"two commas in a script read as UTF-8: columns count its bytes",
     {{"main.txt", "/* 注 */ text \"日本\",,b;\n"}},
     {"--source-encoding=utf-8"},
     "/game/main.txt:2:25: error: 文法が間違っています",
     "/game/main.txt:2:25: note: 問題の字句は \",\" (25 桁目) です"},
    {"a misspelt option",
     {{"main.txt", ""}},
     {"--chek"},
     "KVConverter: error: 不明なオプションです \"--chek\"",
     "KVConverter: note: オプションの一覧は KVConverter --help で表示できます"},
    {"the main script a folder too deep",
     {{"game/main.txt", "create_window;\n"}},
     {},
     "/game/main.txt: error: メインスクリプトが \"/game/\" ディレクトリに見つかりませんでした",
     "/game/game/main.txt: note: \"/game/game/\" にメインスクリプトがあります。"
     "-xd でこのディレクトリを指定してください"},
    {"the main script named in capitals",
     {{"MAIN.txt", "create_window;\n"}},
     {},
     "/game/main.txt: error: メインスクリプトが \"/game/\" ディレクトリに見つかりませんでした",
     "/game/MAIN.txt: note: \"/game/MAIN.txt\" があります。メインスクリプトの名前は小文字の "
     "main.txt です"},
    {"a run in a folder with nothing to convert",
     {},
     {"-td", "data"},
     "\"/game/data/\" 以下にコンバートするファイルが見つかりませんでした",
     ""},
    {"an output in a folder that does not exist",
     {{"main.txt", ""}},
     {"-so", "out/script.kvo"},
     "out/script.kvo: error: KCFile::FileClose(2) ファイルへの書き込みに失敗",
     "\"out/script.kvo\" に書き込めませんでした: No such file or directory"},
};

TEST(AuthorMistakes, EachIsPlacedAndExplained) {
  for (const Mistake& m : kMistakes) {
    SCOPED_TRACE(m.what);
    MemoryFileSystem fs("/game");
    for (const auto& [name, text] : m.files) {
      fs.AddFile("/game/" + name, name == "main.txt" ? "create_window;\n" + text : text);
    }
    std::vector<std::string> args = {"--diagnostics=gnu"};
    args.insert(args.end(), m.args.begin(), m.args.end());
    const ConversionRun run = RunConversion(fs, args);
    const std::string lines = m.message + "\n" + (m.next.empty() ? "" : m.next + "\n");
    const size_t at = run.console.find(lines);
    ASSERT_NE(std::string::npos, at) << run.console;
    if (m.next.empty()) {
      EXPECT_EQ(std::string::npos, run.console.find(": note: ", at)) << run.console;
    }
    EXPECT_EQ(m.message.find(": error: ") != std::string::npos ? 1 : 0, run.status) << run.console;
  }
}

}  // namespace
}  // namespace kv
