// Common mistakes of a game's author, each with the diagnostic an editor
// reads (file, line and byte column) and the line that says more about it.
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/console.h"
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
    {"a colon after a label's name where it is used",
     {{"main.txt", "goto chapter1:;\nchapter1:\n"}},
     {},
     "/game/main.txt:2:15: error: KCCommand::ReadCommand(1) コマンド名取得に失敗",
     "/game/main.txt:2:15: note: \"chapter1:\" の : でラベルの定義として文が終わり、; だけの空の文が"
     "残っています。ラベルの名前の後に : を書くのは、ラベルを定義する行だけです"},
    {"a semicolon too many",
     {{"main.txt", "text \"a\";;\n"}},
     {},
     "/game/main.txt:2:10: error: KCCommand::ReadCommand(1) コマンド名取得に失敗",
     "/game/main.txt:2:10: note: ; の前に文がありません (; が余分です)"},
    {"a label's name with the long vowel mark",
     {{"main.txt", "goto \x83\x51\x81\x5B;\n"}},
     {},
     "/game/main.txt:2:8: note: \"ー\" の 2 バイト目が記号 \"[\" として読まれ、語が分かれています。"
     "語を \"\" で囲んで文字列にしてください",
     "/game/main.txt:2:1: note: ラベルの名前は 1 語です。2 バイト目が記号になる文字を含む名前は、"
     "ラベルの名前に使えません"},
    {"a label's name of two words",
     {{"main.txt", "chapter 1:\n"}},
     {},
     "/game/main.txt:2:10: note: 問題の字句は \":\" (10 桁目) です",
     "/game/main.txt:2:10: note: ラベルの名前は 1 語です。\"chapter 1\" のように空白を含む名前は使えません"
     " (\"_\" でつなぐなどしてください)"},
    {"an empty parameter",
     {{"main.txt", "text a,;\n"}},
     {},
     "/game/main.txt:2:1: error: Condition(1) 要素数取得に失敗",
     "/game/main.txt:2:1: note: 2 番目のパラメータが空です (\",\" の前か後ろに値がありません)"},
    {"an expression that ends at an operator",
     {{"main.txt", "text (;\n"}},
     {},
     "/game/main.txt:2:1: error: GetElementForCalc(1) Monomial(1) 要素取得に失敗",
     "/game/main.txt:2:6: note: 式が \"(\" で終わっていて、その後に値がありません"},
    {"an else after an if whose condition failed",
     {{"main.txt", "value affection @ 0;\nif affection => 3;\nelse;\nendif;\n"}},
     {},
     "/game/main.txt:4:1: error: else に対応する \"if\" が見つかりませんでした",
     "/game/main.txt:4:1: note: 3 行目の \"if\" がエラーになったため、そのブロックは開かれていません"
     " (先にそのエラーを直してください)"},
    {"a string left open over the end of a loop",
     {{"main.txt", "value a @ 0;\nloop a < 3;\n  text \"abc;\n  a = a + 1;\nloop_end;\ntext \"x\";\n"}},
     {},
     "/game/main.txt:7:10: error: \"loop\" のブロックが閉じられていません (3 行目で開始)",
     "/game/main.txt:7:10: note: 4 行目で始まった文字列が閉じられず、その後の文を含んで続いている可能性が"
     "あります (閉じる \" または ' を確かめてください)"},
    {"a loop_end without its loop after a string that holds a statement",
     {{"main.txt", "text \"a;\nb\";\nloop_end;\n"}},
     {},
     "/game/main.txt:4:1: error: loop_end に対応する \"loop\" が見つかりませんでした",
     ""},
    {"two commas in a script read as UTF-8: columns count its bytes, the note its characters too",
     {{"main.txt", "/* 注 */ text \"日本\",,b;\n"}},
     {"--source-encoding=utf-8"},
     "/game/main.txt:2:25: error: 文法が間違っています",
     "/game/main.txt:2:25: note: 問題の字句は \",\" (19 文字目、25 バイト目) です"},
    {"two commas after Japanese in CP932",
     {{"main.txt", "/* \x92\x8D */ text \"\x93\xFA\x96\x7B\",,b;\n"}},
     {},
     "/game/main.txt:2:22: error: 文法が間違っています",
     "/game/main.txt:2:22: note: 問題の字句は \",\" (19 文字目、22 バイト目) です"},
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
    // A note stands under an error.
    const bool failed = m.message.find(": error: ") != std::string::npos ||
                        m.message.find(": note: ") != std::string::npos;
    EXPECT_EQ(failed ? 1 : 0, run.status) << run.console;
  }
}

// The checks of --check: for each, a game where it fires (a whole line of
// the console, GNU form) and a near miss where it stays silent. Scripts are
// written here in UTF-8 and stored as CP932, except where a key ends in "!"
// (stored as written).
struct LintCase {
  const char* check;
  std::map<std::string, std::string> fires_in;
  std::string line;
  std::map<std::string, std::string> near_miss;
  std::vector<std::string> args = {};
};

const LintCase kLintCases[] = {
    {"unknown-command",
     {{"main.txt", "create_window;\nlayer_shwo bg, 0, 0;\n"}},
     "/game/main.txt:2:1: warning: \"layer_shwo\" はコマンドではないため、テキストとして書き出されます "
     "(\"layer_show\" ではありませんか?) [unknown-command]",
     // A declared variable, an assignment, Japanese text, a word far from
     // every command.
     {{"main.txt", "create_window;\nvalue layer_no @ 1;\nlayer_no * 2;\nscore = 1;\nこんにちは;\n"}}},
    {"unknown-command",
     {{"main.txt", "new_command show, layer_show;\ncreate_window;\nshwo bg, 0, 0;\ntxet \"あ\";\n"}},
     "/game/main.txt:4:1: warning: \"txet\" はコマンドではないため、計算式として書き出されます "
     "(\"text\" ではありませんか?) [unknown-command]",
     {{"main.txt", "new_command show, layer_show;\ncreate_window;\nlayer bg, \"bg.png\";\nshow bg, 0, 0;\n"},
      {"bg.png", ""}}},
    {"unknown-command",
     {{"main.txt", "new_command show, layer_show;\ncreate_window;\nshwo bg, 0, 0;\n"}},
     "/game/main.txt:3:1: warning: \"shwo\" はコマンドではないため、テキストとして書き出されます "
     "(\"show\" ではありませんか?) [unknown-command]",
     {{"main.txt", "create_window;\nvoid;\nshwo bg;\nvoid_end;\n"}}},
    {"missing-semicolon",
     {{"main.txt", "create_window;\nlayer bg, \"bg.png\"\nlayer_show bg, 0, 0;\n"}, {"bg.png", ""}},
     "/game/main.txt:2:1: warning: ; がないため、3 行目の \"layer_show\" もこのコマンドの続きとして"
     "書き出されます [missing-semicolon]",
     {{"main.txt", "create_window;\nlayer bg, \"bg.png\";\nlayer_show bg,\n  0, 0;\ntext \"一\"\n  \"二\";\n"
                   "value a @ 1\n  + text;\n"},
      {"bg.png", ""}}},
    {"string-spans-lines",
     {{"main.txt", "create_window;\ntext \"こんにちは;\ntext \"次\";\n"}},
     "/game/main.txt:2:6: warning: 文字列が改行を含み、3 行目まで続いています (閉じる \" がない可能性があります)"
     " [string-spans-lines]",
     {{"main.txt", "create_window;\ntext \"一行目\"\n     '二行目';\n"}}},
    {"full-width-punctuation",
     {{"main.txt", "create_window;\ntext　\"こんにちは\";\n"}},
     "/game/main.txt:2:5: warning: 全角スペースの 2 バイト目が記号 \"@\" として読まれます。"
     "区切りには半角スペースを使ってください [full-width-punctuation]",
     {{"main.txt", "create_window;\ntext \"全角の；と　は文字列の中\";\nこんにちは，世界;\n"}}},
    {"full-width-punctuation",
     {{"main.txt", "create_window;\ntext \"一\"；\ntext \"二\";\n"}},
     "/game/main.txt:2:10: warning: 全角の \"；\" は記号として読まれません (半角の \";\" ではありませんか?)"
     " [full-width-punctuation]",
     {{"main.txt", "create_window;\ntext \"一\";\n"}}},
    {"else-with-condition",
     {{"main.txt", "create_window;\nvalue a @ 1;\nif a == 2;\nelse if a == 1;\nendif;\n"}},
     "/game/main.txt:4:6: warning: else のパラメータは使われません (条件を付けるには \"elseif\" と書きます)"
     " [else-with-condition]",
     {{"main.txt", "create_window;\nvalue a @ 1;\nif a == 2;\nelseif a == 1;\nelse;\nendif;\n"}}},
    {"no-create-window",
     {{"main.txt", "window_title \"t\";\ntext \"あ\";\n"}},
     "/game/main.txt:2:11: warning: main.txt に create_window がないため、すべてのスクリプトがウィンドウを"
     "作る前の設定として書き出されます [no-create-window]",
     {{"main.txt", "window_title \"t\";\ncreate_window;\ntext \"あ\";\n"}}},
    {"split-word",
     {{"main.txt", "create_window;\ngoto ゲームオーバー;\n"}},
     "/game/main.txt:2:8: warning: \"ー\" の 2 バイト目が記号 \"[\" として読まれ、語が分かれています。"
     "語を \"\" で囲んで文字列にしてください [split-word]",
     {{"main.txt", "create_window;\ntext テスト, \"ゲームオーバー\";\n"}}},
    {"utf8-script",
     {{"main.txt!", "create_window;\ntext \"こんにちは\";\n"}},
     "/game/main.txt:2:7: warning: UTF-8 で保存されたスクリプトのようです (文字列は文字化けします)。"
     "スクリプトは Shift_JIS (CP932) で保存するか、--source-encoding=utf-8 を指定してください [utf8-script]",
     {{"main.txt!", "create_window;\ntext \"こんにちは\";\n"}},
     {"--source-encoding=utf-8"}},
    {"comment-in-string",
     {{"main.txt", "create_window;\ntext \"公式サイト http://example.jp を見てね\";\ntext \"次\";\n"}},
     "/game/main.txt:2:23: warning: 文字列の中の // から行の終わりまでがコメントとして取り除かれます"
     " (閉じる \" も取り除かれます) [comment-in-string]",
     // A comment after the string, a quote inside a comment or a word, a
     // string split at the slashes.
     {{"main.txt", "create_window;\ntext \"b\"; // see \"http://x\"\n/* \"a */ text 'c';\n"
                   "string it's @ \"d\";\ntext it's; // e\ntext \"http:/\" \"/example.jp\";\n"}}},
    {"comment-in-string",
     {{"main.txt", "create_window;\ntext 'a /* b */ c';\n"}},
     "/game/main.txt:2:9: warning: 文字列の中の /* から */ までがコメントとして取り除かれます [comment-in-string]",
     {{"main.txt", "create_window;\ntext 'a' /* b */, 'c';\n"}}},
    {"missing-file",
     {{"main.txt", "create_window;\nlayer bg, \"bg.PNG\";\n"}, {"img/bg.png", ""}},
     "/game/main.txt:2:11: warning: ファイル \"bg.PNG\" はありませんが、大文字と小文字だけが違う "
     "\"/game/img/bg.png\" があります [missing-file]",
     // A name below a folder (ソ and 表 end in the byte of '\'), a string
     // that mentions a picture, a save file.
     {{"main.txt", "create_window;\nlayer bg, \"ソフト/表.png\";\ntext \"背景は bg.png です\";\n"
                   "save \"save1.dat\";\nscript_change \"シナリオ/一.txt\";\n"},
      {"ソフト/表.png", ""}, {"シナリオ/一.txt", ""}}},
    {"missing-file",
     {{"main.txt", "create_window;\nscript_change \"scenes/two.txt\";\n"}, {"scenes/one.txt", ""}},
     "/game/main.txt:2:15: warning: ファイル \"scenes/two.txt\" はゲームのどのフォルダにもありません"
     " [missing-file]",
     {{"main.txt", "create_window;\nscript_change \"scenes/one.txt\";\n"}, {"scenes/one.txt", ""}}},
    {"duplicate-label",
     {{"main.txt", "create_window;\nstart:\nscript_change \"b.txt\";\n"}, {"b.txt", "text \"x\";\nstart:\n"}},
     "/game/main.txt:2:1: warning: ラベル \"start\" は \"/game/b.txt\" (2 行目) でも定義されています"
     " [duplicate-label]",
     {{"main.txt", "create_window;\nstart:\nscript_change \"b.txt\";\n"}, {"b.txt", "start2:\n"}}},
    {"implicit-multiplication",
     {{"main.txt", "create_window;\nlayer chara, \"c.png\";\nlayer_show chara 300, 100;\n"}, {"c.png", ""}},
     "/game/main.txt:3:18: warning: \"chara\" と 300 の間に演算子がないため、掛け算として書き出されます"
     " [implicit-multiplication]",
     // Multiplying a bracket, adjacent strings, a word after a comma.
     {{"main.txt", "create_window;\nvalue a @ 2;\na = 2 (a + 1) * a;\ntext \"一\"\n  \"二\";\ntext a,\n  a;\n"}}},
    {"implicit-multiplication",
     {{"main.txt", "create_window;\nvalue affection @ 0;\ntext \"あ\"\naffection = affection + 1;\n"}},
     "/game/main.txt:4:1: warning: \"あ\" と次の行の \"affection\" の間に演算子がないため、掛け算として"
     "書き出されます (3 行目で始まった文の ; か , がない可能性があります) [implicit-multiplication]",
     {{"main.txt", "create_window;\nvalue affection @ 0;\ntext \"あ\";\naffection = affection + 1;\n"}}},
    {"setup-phase-command",
     {{"main.txt", "text \"読み込み中\";\ncreate_window;\n"}},
     "/game/main.txt:1:1: warning: \"text\" は create_window より前には使えないため、計算式として"
     "書き出されます [setup-phase-command]",
     {{"main.txt", "window_title \"t\";\ncreate_window;\ntext \"読み込み中\";\n"}}},
    {"assignment-in-condition",
     {{"main.txt", "create_window;\nvalue affection @ 0;\nif affection = 3;\nendif;\n"}},
     "/game/main.txt:3:14: warning: 条件の中の = は代入です。値は比べられず、\"affection\" が書き換えられます"
     " [assignment-in-condition]",
     {{"main.txt", "create_window;\nvalue a @ 0;\nif a == 3;\nelseif a >= 1;\nendif;\nloop a < 3;\n  a = a + 1;\n"
                   "loop_end;\n"}}},
    {"command-name-as-variable",
     {{"main.txt", "create_window;\nvalue day @ 1;\n"}},
     "/game/main.txt:2:7: warning: \"day\" はコマンドの名前のため、この変数は文の先頭に書くとコマンドとして"
     "読まれます [command-name-as-variable]",
     {{"main.txt", "create_window;\nvalue days @ 1;\ndays = days + 1;\n"}}},
    {"undeclared-variable",
     {{"main.txt", "create_window;\nvalue affection @ 0;\naffection = afection + 2;\n"}},
     "/game/main.txt:3:13: warning: 変数 \"afection\" はどのスクリプトでも宣言されていません"
     " (\"affection\" ではありませんか?) [undeclared-variable]",
     // Names that commands make, a value of the engine, a variable named
     // like a file, a variable declared in another script, Japanese words.
     {{"main.txt", "create_window;\nlayer bg, \"bg.png\";\nlayer_show bg, 0, 0;\nif select_result == 1;\nendif;\n"
                   "value bg_sea.png @ 1;\nlayer_show bg, bg_sea.png, 0;\nscript_load \"b.txt\";\n"
                   "function_call f;\ntext テスト, \"ゲームオーバー\";\n"},
      {"b.txt", "value later @ 0;\nfunction f;\n  later = later + 1;\nfunction_end;\n"},
      {"bg.png", ""}}},
    {"undeclared-variable",
     {{"main.txt", "create_window;\nlayer bg, bg_sea.png;\n"}},
     "/game/main.txt:2:11: warning: ファイル名 \"bg_sea.png\" が \"\" で囲まれていないため、宣言されていない"
     "変数の名前として読まれます [undeclared-variable]",
     {{"main.txt", "create_window;\nlayer bg, \"bg_sea.png\";\n"}, {"bg_sea.png", ""}}},
    {"undeclared-variable",
     {{"main.txt", "create_window;\nlayer chara, \"c.png\";\nlayer_show chara, ３００, 100;\n"}, {"c.png", ""}},
     "/game/main.txt:3:19: warning: 全角の数字 \"３００\" は数ではなく、宣言されていない変数の名前として"
     "読まれます [undeclared-variable]",
     {{"main.txt", "create_window;\nlayer chara, \"c.png\";\nlayer_show chara, 300, 100;\n"}, {"c.png", ""}}},
    {"undeclared-variable",
     {{"main.txt", "create_window;\ntext ”夏が終わった。”;\n"}},
     "/game/main.txt:2:6: warning: 全角の引用符は文字列を囲まないため、\"”夏が終わった。”\" は宣言されていない"
     "変数の名前として読まれます [undeclared-variable]",
     {{"main.txt", "create_window;\ntext \"”夏が終わった。”\";\n"}}},
    {"undeclared-variable",
     {{"main.txt", "create_window;\nstring heroine @ 美咲;\n"}},
     "/game/main.txt:2:18: warning: @ の後の \"美咲\" は \"\" で囲まれていないため、文字列ではなく宣言されて"
     "いない変数の名前として読まれます [undeclared-variable]",
     {{"main.txt", "create_window;\nstring heroine @ \"美咲\";\n"}}},
    {"used-before-declaration",
     {{"main.txt", "create_window;\naffection = 5;\nvalue affection @ 0;\n"}},
     "/game/main.txt:2:1: warning: 変数 \"affection\" は 3 行目で宣言される前に使われています"
     " [used-before-declaration]",
     // Declared in a script before this one.
     {{"main.txt", "create_window;\nvalue affection @ 0;\nscript_change \"b.txt\";\n"},
      {"b.txt", "affection = 5;\n"}}},
    {"redeclared-variable",
     {{"main.txt", "create_window;\nvalue affection @ 0;\nscript_change \"scenes/s.txt\";\n"},
      {"scenes/s.txt", "value affection @ 10;\n"}},
     "/game/scenes/s.txt:1:7: warning: 変数 \"affection\" は \"/game/main.txt\" (2 行目) で既に宣言されています"
     " [redeclared-variable]",
     // Locals of two functions.
     {{"main.txt", "create_window;\nfunction f;\n  local_value i @ 0;\nfunction_end;\nfunction g;\n"
                   "  local_value i @ 1;\nfunction_end;\n"}}},
    {"unreached-script",
     {{"main.txt", "create_window;\n"}, {"メモ.txt", "買い物;\n"}},
     "/game/メモ.txt:1:1: warning: スクリプト \"/game/メモ.txt\" はどの script_change と script_load にも書かれて"
     "おらず、そのラベルと関数もどこからも使われていません [unreached-script]",
     // Reached by script_load, by a function call, or maybe by a computed name.
     {{"main.txt", "create_window;\nscript_load \"b.txt\";\nfunction_call f;\n"}, {"b.txt", "text \"x\";\n"},
      {"c.txt", "function f;\nfunction_end;\n"}}},
    {"unreached-script",
     {{"main.txt", "create_window;\nscript_change \"scenes/a.txt\";\n"}, {"scenes/a.txt", ""},
      {"scenes/b.txt", ""}},
     "/game/scenes/b.txt:1:1: warning: スクリプト \"/game/scenes/b.txt\" はどの script_change と script_load にも"
     "書かれておらず、そのラベルと関数もどこからも使われていません [unreached-script]",
     {{"main.txt", "create_window;\nstring next @ \"scenes/a.txt\";\nscript_change next;\n"},
      {"scenes/a.txt", ""}, {"scenes/b.txt", ""}}},
};

void AddGame(MemoryFileSystem& fs, const std::map<std::string, std::string>& files) {
  for (const auto& [name, text] : files) {
    const bool verbatim = name.ends_with("!");
    const std::string path = Utf8ToCp932("/game/" + (verbatim ? name.substr(0, name.size() - 1) : name));
    fs.AddFile(path, verbatim ? text : Utf8ToCp932(text));
  }
}

TEST(AuthorMistakes, EachCheckFiresAndKeepsSilentAtItsNearMiss) {
  for (const LintCase& c : kLintCases) {
    SCOPED_TRACE(c.line);
    const std::string tag = std::string(" [") + c.check + "]";
    MemoryFileSystem fires("/game");
    AddGame(fires, c.fires_in);
    const ConversionRun check = RunConversion(fires, {"--check", "--diagnostics=gnu"});
    EXPECT_NE(std::string::npos, check.console.find("\n" + c.line + "\n")) << check.console;
    // A build says nothing of it.
    const ConversionRun build = RunConversion(fires, {"--diagnostics=gnu"});
    EXPECT_EQ(std::string::npos, build.console.find(tag)) << build.console;
    // Switched off, it is not made.
    const ConversionRun off = RunConversion(fires, {"--check", "--diagnostics=gnu",
                                                    std::string("--no-warn=") + c.check});
    EXPECT_EQ(std::string::npos, off.console.find(tag)) << off.console;

    MemoryFileSystem near_miss("/game");
    AddGame(near_miss, c.near_miss);
    std::vector<std::string> args = {"--check", "--diagnostics=gnu"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ConversionRun silent = RunConversion(near_miss, args);
    EXPECT_NE(std::string::npos, silent.console.find("\n結果 : 成功 / エラー 0件 / 警告 0件\n"))
        << silent.console;
  }
}

TEST(AuthorMistakes, AMissingCreateWindowIsToldBeforeTheErrorItCauses) {
  // The failed statement ends the conversion before main.txt's end.
  MemoryFileSystem fs("/game");
  AddGame(fs, {{"main.txt", "window_title \"t\";\nlayer bg, \"bg.png\";\ntext \"あ\";\n"}});
  const std::string console = RunConversion(fs, {"--check", "--diagnostics=gnu"}).console;
  const size_t no_window = console.find(
      "/game/main.txt:3:11: warning: main.txt に create_window がないため、すべてのスクリプトがウィンドウを"
      "作る前の設定として書き出されます [no-create-window]\n");
  const size_t setup = console.find(
      "/game/main.txt:2:1: warning: \"layer\" は create_window より前には使えないため、計算式として"
      "書き出されます [setup-phase-command]\n/game/main.txt:2:1: note: main.txt には create_window が"
      "ありません。設定のコマンドの後に create_window; を書き、このコマンドはその後に書いてください\n");
  const size_t error = console.find("/game/main.txt:2:1: error: コマンドパラメータの指定数が間違っています\n");
  ASSERT_NE(std::string::npos, error) << console;
  EXPECT_LT(no_window, setup) << console;
  EXPECT_LT(setup, error) << console;
  EXPECT_EQ(console.find("[no-create-window]"), console.rfind("[no-create-window]")) << console;
}

TEST(AuthorMistakes, WarningsFailARunUnderWerror) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt", "create_window;\ndebug_message \"x\";\n");
  const ConversionRun build = RunConversion(fs, {"--werror"});
  EXPECT_EQ(1, build.status);
  EXPECT_NE(std::string::npos, build.console.find("\n結果 : 失敗 / エラー 0件 / 警告 1件\n")) << build.console;
  EXPECT_EQ(0, RunConversion(fs, {}).status);
  fs.AddFile("/game/main.txt", "create_window;\nlayer_shwo bg;\n");
  EXPECT_EQ(1, RunConversion(fs, {"--check", "--werror"}).status);
  EXPECT_EQ(0, RunConversion(fs, {"--check", "--werror", "--no-warn=unknown-command,undeclared-variable"})
                   .status);
}

}  // namespace
}  // namespace kv
