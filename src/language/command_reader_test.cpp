#include "language/command_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "compile/dispatcher.h"
#include "compile/func_set.h"
#include "compile/statement_handlers.h"
#include "context/kc_system.h"
#include "language/kc_command.h"
#include "test_support/memory_file_system.h"
#include "test_support/compile_test_util.h"
#include "test_support/conversion_harness.h"

namespace kv {
namespace {

using testing::Cmd;
using testing::Le32;
using testing::Ch;
using testing::Num;
using testing::Str;
using testing::Var;

// An expression parameter of the given items.
std::string Expr(std::initializer_list<std::string> items) {
  std::string out = Ch(static_cast<uint8_t>(items.size()));
  for (const std::string& item : items) out += item;
  return out;
}
const std::string kEndCode = Cmd(442) + Ch(0);

constexpr char kMain[] = "/game/main.txt";
constexpr char kNext[] = "/game/next.txt";
constexpr char kCountError[] = "コマンドパラメータの指定数が間違っています\n";

// A reader over in-memory scripts, with everything it compiles through.
struct ReaderRig {
  // Registers the scripts and makes main.txt current in the main phase (or
  // in the setup phase), with the console emptied.
  void Start(const std::string& main_txt, const std::string& next_txt = "",
             bool setup_phase = false) {
    fs.AddFile(kMain, main_txt);
    ASSERT_TRUE(AddScript(sys, kMain));
    if (!next_txt.empty()) {
      fs.AddFile(kNext, next_txt);
      ASSERT_TRUE(AddScript(sys, kNext));
    }
    sys.options.engineDirectory = "/game/";
    sys.script.converting = true;
    sys.script.setupPhase = setup_phase;
    command.InitCommandTable();
    if (!setup_phase) command.DeleteSetupCommands();
    ASSERT_TRUE(StartMainScript(sys));
    out.text.clear();
  }

  int32_t Read() { return reader.ReadCommand(sys.script.currentSource); }

  std::string Code(const char* script) {
    return Hex(std::string(sys.results.Objects.at(script)->Code()));
  }

  std::string TakeOutput() {
    std::string text = out.text;
    out.text.clear();
    return text;
  }

  MemoryFileSystem fs{"/game"};
  StringSink out;
  KCSystem sys{fs, out, ConsoleEncoding::kUtf8};
  KCCommand command{sys};
  KCFuncSet funcs{sys, command};
  StatementHandlers handlers{sys, command, funcs};
  Dispatcher dispatcher{sys, command, funcs, handlers};
  CommandReader reader{sys, command, dispatcher};
};

class CommandReaderTest : public ::testing::Test, public ReaderRig {};

TEST_F(CommandReaderTest, EndStatementIsAnOrdinaryCommand) {
  Start("end;\ntext a;\n");
  EXPECT_EQ(Read(), CmdDone);
  EXPECT_EQ(Read(), CmdDone);
  EXPECT_EQ(Code(kMain), Hex(kEndCode + Cmd(15) + Ch(1) + Expr({Var("a")})));
  EXPECT_EQ(sys.script.itemPosition, 5u);
}

TEST_F(CommandReaderTest, ImplicitStatementsBecomeCalcOrText) {
  Start("x = y + 1;\nHello;\nHello, world;\nx = 1, 2;\n5;\n");
  EXPECT_EQ(Read(), CmdDone);
  std::string expected = Cmd(7) + Ch(1) +
                         Expr({Var("x"), Var("y"), Num(1), Ch(6), Ch(13)});
  EXPECT_EQ(Code(kMain), Hex(expected));
  EXPECT_EQ(Read(), CmdDone);
  expected += Cmd(607) + Ch(1) + Expr({Var("Hello")});
  EXPECT_EQ(Read(), CmdDone);
  expected += Cmd(607) + Ch(2) + Expr({Var("Hello")}) + Expr({Var("world")});
  EXPECT_EQ(Read(), CmdDone);
  expected += Cmd(607) + Ch(2) + Expr({Var("x"), Num(1), Ch(13)}) + Expr({Num(2)});
  EXPECT_EQ(Read(), CmdDone);
  expected += Cmd(607) + Ch(1) + Expr({Num(5)});
  EXPECT_EQ(Code(kMain), Hex(expected));
  EXPECT_EQ(sys.script.itemPosition, 3u + 3u + 4u + 4u + 3u);
  EXPECT_EQ(TakeOutput(), "");
}

TEST_F(CommandReaderTest, QuotedCommandNameIsLookedUpByItsText) {
  Start("\"text\";\n");
  EXPECT_EQ(Read(), CmdInvalid);
  EXPECT_EQ(Code(kMain), Hex(Cmd(15)));
  EXPECT_EQ(TakeOutput(), std::string("エラー : /game/main.txt 1 行目 ") + kCountError +
                              "備考 : /game/main.txt 1 行目 \"text\" のパラメータは 0 個です "
                              "(指定できる数 : 1 ～ 255 個)\n");
  EXPECT_EQ(sys.log.errorCount, 1);
}

TEST_F(CommandReaderTest, LabelsDebugCommandsAndDeclarationsWriteNothing) {
  Start("text a;\nstart:\nclear_new_command;\ndebug_message \"x\";\ndebug_error_ignore;\n"
        "debug_error_stop;\nfunction_declaration f, 2;\nfunction_declaration f;\n");
  EXPECT_EQ(Read(), CmdDone);
  const std::string text_a = Hex(Cmd(15) + Ch(1) + Expr({Var("a")}));
  EXPECT_EQ(Read(), CmdDone);
  ASSERT_EQ(sys.results.LabelDefinitions.size(), 1u);
  EXPECT_EQ(sys.results.LabelDefinitions[0].name, "start");
  EXPECT_EQ(sys.results.LabelDefinitions[0].position, 3u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Read(), CmdDone);
  EXPECT_EQ(Read(), CmdInvalid);
  EXPECT_EQ(Code(kMain), text_a);
  EXPECT_EQ(sys.script.itemPosition, 3u);
  const std::string dropped =
      "デバッグコマンドはコンバート対象外です。自動的に除外されます\n";
  EXPECT_EQ(TakeOutput(), "警告 : /game/main.txt 3 行目 " + dropped +
                              "警告 : /game/main.txt 4 行目 " + dropped +
                              "警告 : /game/main.txt 5 行目 " + dropped +
                              "警告 : /game/main.txt 6 行目 " + dropped +
                              "エラー : /game/main.txt 8 行目 " + kCountError +
                              "備考 : /game/main.txt 8 行目 \"function_declaration\" の"
                              "パラメータは 1 個です (指定できる数 : 2 個)\n");
}

TEST_F(CommandReaderTest, IfAndElseAreCheckedBeforeTheirHandlers) {
  Start("else;\nif a, b;\nif a;\nendif;\n");
  EXPECT_EQ(Read(), CmdInvalid);
  EXPECT_EQ(Read(), CmdInvalid);
  EXPECT_EQ(Code(kMain), "");
  EXPECT_EQ(TakeOutput(),
            "エラー : /game/main.txt 1 行目 else に対応する \"if\" が見つかりませんでした\n"
            "エラー : /game/main.txt 2 行目 " + std::string(kCountError) +
                "備考 : /game/main.txt 2 行目 \"if\" のパラメータは 2 個です (指定できる数 : 1 個)\n");
  EXPECT_EQ(Read(), CmdDone);
  EXPECT_EQ(command.BlockDepth(), 1u);
  EXPECT_EQ(command.TopBlock().flags, BlkIf);
  EXPECT_EQ(Read(), CmdDone);
  EXPECT_EQ(Code(kMain), Hex(Cmd(281) + Ch(2) + Expr({Var("a")}) + Ch(1) + "\x08" + Le32(0)));
  EXPECT_EQ(command.BlockDepth(), 0u);
  EXPECT_EQ(TakeOutput(), "");
}

TEST_F(CommandReaderTest, VoidAndDebugOnlyBlocksSkipEverythingUpToTheirCloser) {
  Start("void;\nlayer_show;\nno such thing;\nlbl:\nif a, b;\nvoid_end;\n"
        "debug_only;\ntext a;\nelse;\ndebug_only_end;\ntext b;\n");
  for (int i = 0; i < 11; ++i) EXPECT_EQ(Read(), CmdDone) << "statement " << i + 1;
  EXPECT_EQ(Code(kMain), Hex(Cmd(15) + Ch(1) + Expr({Var("b")})));
  EXPECT_TRUE(sys.results.LabelDefinitions.empty());
  EXPECT_EQ(command.BlockDepth(), 0u);
  EXPECT_EQ(TakeOutput(), "");
}

TEST_F(CommandReaderTest, EndOfSourceWritesEndAndSwitchesScripts) {
  Start("text a;\n", "text b;\n");
  EXPECT_EQ(Read(), CmdDone);
  EXPECT_EQ(Read(), CmdEndOfFile);
  EXPECT_EQ(Code(kMain), Hex(Cmd(15) + Ch(1) + Expr({Var("a")}) + kEndCode));
  EXPECT_EQ(sys.script.currentSource->path, kNext);
  EXPECT_EQ(sys.script.itemPosition, 0u);
  EXPECT_EQ(TakeOutput(), "/game/next.txt をコンバート中...\n");
  EXPECT_EQ(Read(), CmdDone);
  // The end command does not count as a code entry.
  EXPECT_EQ(sys.script.itemPosition, 3u);
  EXPECT_EQ(Read(), cmd::kEnd);
  EXPECT_EQ(Code(kNext), Hex(Cmd(15) + Ch(1) + Expr({Var("b")}) + kEndCode));
  EXPECT_EQ(sys.script.itemPosition, 3u);
  EXPECT_EQ(TakeOutput(), "");
}

TEST_F(CommandReaderTest, UnfinishedStatementFailsTheEndCommand) {
  Start("text a,", "text b,");
  EXPECT_EQ(Read(), CmdInvalid);
  EXPECT_EQ(Code(kMain), Hex(Cmd(442)));
  EXPECT_EQ(sys.script.currentSource->path, kNext);
  EXPECT_EQ(TakeOutput(),
            std::string("警告 : /game/main.txt 1 行目 ; がないためファイルの終端のコマンドを無視しました\n"
                        "エラー : /game/main.txt 1 行目 ") +
                kCountError +
                "備考 : /game/main.txt 1 行目 ファイルの終端の文に ; がないため、"
                "その文のパラメータが end に残っています\n"
                "/game/next.txt をコンバート中...\n");
  // At the end of the last script conversion is over all the same: reading
  // on would only write a second end command into the ended script.
  EXPECT_EQ(Read(), cmd::kEnd);
  EXPECT_EQ(Code(kNext), Hex(Cmd(442)));
  EXPECT_EQ(sys.log.errorCount, 2);
}

TEST_F(CommandReaderTest, ErrorLimitAbandonsTheScript) {
  Start("text a;\ntext b;\n", "text c;\n");
  EXPECT_EQ(Read(), CmdDone);
  sys.log.errorsSinceLimit = 100;
  EXPECT_EQ(Read(), CmdEndOfFile);
  EXPECT_EQ(sys.log.errorsSinceLimit, 0);
  EXPECT_EQ(Code(kMain), Hex(Cmd(15) + Ch(1) + Expr({Var("a")}) + Str("error")));
  EXPECT_EQ(TakeOutput(),
            "エラー数が100を超えたのでコンバートを中止します\n"
            "/game/next.txt をコンバート中...\n");
  EXPECT_EQ(sys.log.errorCount, 0);

  // 99 errors do not fire the limit; the next script is the last one.
  sys.log.errorsSinceLimit = 99;
  EXPECT_EQ(Read(), CmdDone);
  sys.log.errorsSinceLimit = 100;
  EXPECT_EQ(Read(), cmd::kEnd);
  EXPECT_EQ(Code(kNext), Hex(Cmd(15) + Ch(1) + Expr({Var("c")}) + Str("error")));
  EXPECT_EQ(TakeOutput(), "エラー数が100を超えたのでコンバートを中止します\n");
}

TEST_F(CommandReaderTest, FailedErrorMarkerKeepsTheScript) {
  Start("text a;\n", "text b;\n");
  sys.script.currentObject->Reset();
  sys.log.errorsSinceLimit = 100;
  EXPECT_EQ(Read(), CmdInvalid);
  EXPECT_EQ(TakeOutput(),
            "エラー数が100を超えたのでコンバートを中止します\n"
            "内部エラー : /game/main.txt 1 行目 KCFuncSet::OutString(2) "
            "KCCommand::ReadCommand(1) エラー文字列出力に失敗\n コマンド指定子の出力に失敗\n");
  EXPECT_EQ(sys.script.currentSource->path, kMain);
  EXPECT_EQ(sys.log.errorsSinceLimit, 0);
}

TEST_F(CommandReaderTest, EndOfSourceInsideVoidOrDebugOnlyStillSwitchesScripts) {
  Start("text a;\nvoid;\ntext b;\n", "debug_only;\ntext c;\n");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Read(), CmdDone);
  EXPECT_EQ(Read(), CmdEndOfFile);
  EXPECT_EQ(Code(kMain), Hex(Cmd(15) + Ch(1) + Expr({Var("a")}) + kEndCode));
  // The open block is reported while main.txt is still current, and the next
  // script starts with an empty block stack.
  EXPECT_EQ(TakeOutput(),
            "エラー : /game/main.txt 3 行目 \"void\" のブロックが閉じられていません (2 行目で開始)\n"
            "/game/next.txt をコンバート中...\n");
  EXPECT_EQ(command.BlockDepth(), 0u);

  // The error limit inside a debug_only block abandons the script as usual.
  EXPECT_EQ(Read(), CmdDone);
  sys.log.errorsSinceLimit = 100;
  EXPECT_EQ(Read(), cmd::kEnd);
  EXPECT_EQ(Code(kNext), Hex(Str("error")));
  EXPECT_EQ(command.BlockDepth(), 0u);
}

TEST_F(CommandReaderTest, FailureWithoutItsOwnMessageIsReported) {
  Start("function a b;\nnew_command x y, text;\nfunction_declaration f;\n");
  EXPECT_EQ(Read(), CmdInvalid);
  EXPECT_EQ(Read(), CmdInvalid);
  // A failure that reported itself gets no second message.
  EXPECT_EQ(Read(), CmdInvalid);
  EXPECT_EQ(TakeOutput(), "エラー : /game/main.txt 1 行目 文法が間違っています\n"
                          "備考 : /game/main.txt 1 行目 問題の字句は \"b\" (12 桁目) です\n"
                          "エラー : /game/main.txt 2 行目 文法が間違っています\n"
                          "備考 : /game/main.txt 2 行目 問題の字句は \"y\" (15 桁目) です\n"
                          "エラー : /game/main.txt 3 行目 " + std::string(kCountError) +
                          "備考 : /game/main.txt 3 行目 \"function_declaration\" の"
                          "パラメータは 1 個です (指定できる数 : 2 個)\n");
  EXPECT_EQ(sys.log.errorCount, 3);
  EXPECT_EQ(command.FindAliasId("x"), CmdInvalid);
  EXPECT_TRUE(sys.results.FunctionDefinitions.empty());
}

// Every way a statement can fail, statement handler by statement handler:
// each failure must count at least one error, so that no failed statement
// passes unreported and no run with one ends in success.
TEST_F(CommandReaderTest, EveryFailedStatementCountsAnError) {
  struct Case {
    const char* prefix;     // statements that set the stage, all succeeding
    const char* statement;  // the statement that fails
  };
  const Case cases[] = {
      {"", "if a, b;"}, {"", "if a +;"}, {"", "elseif a;"}, {"if a;", "elseif a, b;"},
      {"loop a;", "elseif b;"}, {"if a;\nelse;", "elseif b;"}, {"", "else;"},
      {"loop a;", "else;"}, {"if a;\nelse;", "else;"}, {"", "endif;"}, {"if a;", "endif x;"},
      {"function f;", "endif;"}, {"", "loop;"}, {"", "loop (a;"}, {"", "loop_exit;"},
      {"loop a;", "loop_exit x;"}, {"", "loop_end;"}, {"loop a;", "loop_end x;"},
      {"function f;", "loop_end;"}, {"loop a;\nif b;", "loop_end;"}, {"", "function;"},
      {"", "function a b;"}, {"", "function a, b;"}, {"", "function_exit;"},
      {"function f;", "function_exit x;"}, {"", "function_end;"},
      {"function f;", "function_end x;"}, {"if a;", "function_end;"},
      {"loop a;", "function_end;"}, {"", "function_declaration f;"}, {"", "void x;"},
      {"", "void_end;"}, {"if a;", "void_end;"}, {"void;", "void_end x;"},
      {"", "new_command x;"}, {"", "new_command x y, text;"}, {"", "new_command x, y z;"},
      {"", "new_command x, nosuchcommand;"}, {"new_command show, layer_show;", "new_command s2, show;"},
      {"", "debug_only x;"}, {"", "debug_only_end;"}, {"if a;", "debug_only_end;"},
      {"debug_only;", "debug_only_end x;"}, {"", "release_only x;"}, {"", "release_only_end;"},
      {"if a;", "release_only_end;"}, {"release_only;", "release_only_end x;"},
      {"", "create_window x;"}, {"", "window_size 1, 2;"}, {"", "value;"}, {"", "value a @;"},
      {"", "string a, (b;"}, {"", "global_value a = -\"s\";"}, {"", "layer_show a;"},
      {"", "text a ) b;"}, {"", "x = (1;"}, {"", "x = y +;"}, {"", "\"text\";"},
      {"", "clear_text 1;"}, {"", ";"}, {"", "a,,b;"}, {"", "a : b;"}, {"", "x = 0x;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.prefix) + " / " + c.statement);
    ReaderRig rig;
    rig.Start(std::string(c.prefix) + "\n" + c.statement + "\n");
    // The prefix succeeds statement by statement; the next one fails.
    int32_t code;
    while ((code = rig.Read()) == CmdDone) {
    }
    ASSERT_EQ(code, CmdInvalid) << rig.out.text;
    EXPECT_GE(rig.sys.log.errorCount, 1) << rig.out.text;
    EXPECT_NE(rig.out.text.find("エラー : /game/main.txt"), std::string::npos) << rig.out.text;
  }
}

TEST_F(CommandReaderTest, SetupPhaseCompilesOtherWordsAsCalc) {
  Start("function a b;\nnew_command x y, text;\nlayer_show a, 1, 2;\nx = 1;\n", "",
        /*setup_phase=*/true);
  EXPECT_EQ(Read(), CmdInvalid);
  EXPECT_EQ(Read(), CmdInvalid);
  EXPECT_EQ(TakeOutput(), "エラー : /game/main.txt 1 行目 文法が間違っています\n"
                          "備考 : /game/main.txt 1 行目 問題の字句は \"b\" (12 桁目) です\n"
                          "エラー : /game/main.txt 2 行目 文法が間違っています\n"
                          "備考 : /game/main.txt 2 行目 問題の字句は \"y\" (15 桁目) です\n");
  // Not a setup command: calc with the statement as read, which has three
  // parameters where calc takes one; the note names the real cause.
  EXPECT_EQ(Read(), CmdInvalid);
  EXPECT_EQ(TakeOutput(), std::string("エラー : /game/main.txt 3 行目 ") + kCountError +
                              "備考 : /game/main.txt 3 行目 \"layer_show\" は create_window "
                              "より前には使えないコマンドです\n");
  EXPECT_EQ(Read(), CmdDone);
  EXPECT_EQ(Code(kMain), Hex(Cmd(7) + Cmd(7) + Ch(1) + Expr({Var("x"), Num(1), Ch(13)})));
}

TEST_F(CommandReaderTest, EmptyStatementHasNoCommandName) {
  Start(";\n");
  EXPECT_EQ(Read(), CmdInvalid);
  EXPECT_EQ(TakeOutput(),
            "内部エラー : /game/main.txt 1 行目 KCCommand::GetElement(2) 要素取得位置が最大数を超えた\n"
            "内部エラー : /game/main.txt 1 行目 KCCommand::ReadCommand(1) コマンド名取得に失敗\n"
            "備考 : /game/main.txt 1 行目 ; の前に文がありません (; が余分です)\n");
}

TEST_F(CommandReaderTest, RunOfSyntaxErrorsRunsIntoTheErrorLimit) {
  // Every stray colon is one syntax error; the 101st call abandons the script.
  Start(std::string(150, ':') + " text a;\n", "text b;\n");
  reader.RunMainPhase();
  EXPECT_FALSE(sys.script.converting);
  std::string expected;
  for (int i = 0; i < 100; ++i) {
    expected += "エラー : /game/main.txt 1 行目 文法が間違っています\n"
                "備考 : /game/main.txt 1 行目 問題の字句は \":\" (" + std::to_string(i + 1) +
                " 桁目) です\n備考 : /game/main.txt 1 行目 : はラベルの名前の直後に書いて、ラベルを定義します\n";
  }
  expected += "エラー数が100を超えたのでコンバートを中止します\n/game/next.txt をコンバート中...\n";
  EXPECT_EQ(TakeOutput(), expected);
  EXPECT_EQ(Code(kMain), Hex(Str("error")));
  EXPECT_EQ(Code(kNext), Hex(Cmd(15) + Ch(1) + Expr({Var("b")}) + kEndCode));
}

TEST_F(CommandReaderTest, ScriptWhoseObjectCannotBeWrittenEndsConversion) {
  Start("text a;\n");
  // The object no longer takes writes, so the script never gets its end
  // command and keeps looking unconverted.
  sys.script.currentObject->Reset();
  reader.RunMainPhase();
  EXPECT_FALSE(sys.script.converting);
  EXPECT_GE(sys.log.errorCount, 2);
}

// --- Whole runs over a game tree.

constexpr char kStart[] = "\nスクリプトファイルコンバート 開始!!\n/game/main.txt をコンバート中...\n";
constexpr char kFinish[] = "スクリプトファイルコンバート 終了!!\n";
TEST(ReadCommandRun, StatementsOfBothPhasesAndTheEndOfTheScript) {
  std::string console;
  const std::string code = CompileMain("create_window;\nlayer_show bg, 1, 2;\nHello;\n", &console);
  EXPECT_EQ(Hex(code), Hex(Cmd(399) + Ch(0) + Cmd(155) + Ch(3) + Expr({Var("bg")}) +
                           Expr({Num(1)}) + Expr({Num(2)}) + Cmd(607) + Ch(1) +
                           Expr({Var("Hello")}) + kEndCode));
  EXPECT_EQ(console, std::string(kStart) + kFinish + "\n結果 : 成功 / エラー 0件 / 警告 0件\n");
}

TEST(ReadCommandRun, AliasesHoldForTheScriptsConvertedLater) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt", "new_command show, layer_show;\ncreate_window;\nshow a, 1, 2;\n");
  fs.AddFile("/game/a.txt", "show b, 3, 4;\n");
  ConversionRun run = RunConversion(fs);
  ASSERT_EQ(run.status, 0) << run.console;
  const std::string object = ReadObject(fs, "/game/script.kvo");
  EXPECT_EQ(Hex(ScriptCode(object, "/game/main.txt")),
            Hex(Cmd(399) + Ch(0) + Cmd(155) + Ch(3) + Expr({Var("a")}) + Expr({Num(1)}) +
                Expr({Num(2)}) + kEndCode));
  EXPECT_EQ(Hex(ScriptCode(object, "/game/a.txt")),
            Hex(Cmd(155) + Ch(3) + Expr({Var("b")}) + Expr({Num(3)}) + Expr({Num(4)}) +
                kEndCode));
}

TEST(ReadCommandRun, FailedSetupStatementFailsTheRun) {
  // The failed setup statement ends conversion, and the run fails.
  std::string console;
  EXPECT_EQ(CompileMain("function a b;\ncreate_window;\n", &console), "");
  EXPECT_EQ(console, std::string(kStart) + "エラー : /game/main.txt 1 行目 文法が間違っています\n" +
                         "備考 : /game/main.txt 1 行目 問題の字句は \"b\" (12 桁目) です\n" +
                         kFinish + "エラーがあるため \"script.kvo\" は更新されていません\n"
                         "\n結果 : 失敗 / エラー 1件 / 警告 0件\n");
}

TEST(ReadCommandRun, BlocksDoNotLeakIntoTheNextScript) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt", "create_window;\nif a;\nfunction f;\n");
  fs.AddFile("/game/sub.txt", "function_end;\nendif;\n");
  ConversionRun run = RunConversion(fs);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.console,
            std::string(kStart) +
                "エラー : /game/main.txt 3 行目 \"function\" のブロックが閉じられていません (3 行目で開始)\n"
                "エラー : /game/main.txt 3 行目 \"if\" のブロックが閉じられていません (2 行目で開始)\n"
                "/game/sub.txt をコンバート中...\n"
                "エラー : /game/sub.txt 1 行目 function_end に対応する \"function\" が見つかりませんでした\n"
                "エラー : /game/sub.txt 2 行目 endif に対応する \"if\" が見つかりませんでした\n" +
                kFinish + "エラーがあるため \"script.kvo\" は更新されていません\n"
                "\n結果 : 失敗 / エラー 4件 / 警告 0件\n");
}

TEST(ReadCommandRun, GarbageScriptsEndTheRun) {
  MemoryFileSystem fs("/game");
  std::string garbage;
  uint32_t state = 99;
  for (int i = 0; i < 50000; ++i) {
    state = state * 1103515245u + 12345u;
    garbage.push_back(static_cast<char>(state >> 16));
  }
  fs.AddFile("/game/main.txt", "create_window;\n" + garbage);
  fs.AddFile("/game/sub.txt", std::string(300, ',') + garbage);
  ConversionRun run = RunConversion(fs);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.console.find("/game/sub.txt をコンバート中...\n"), std::string::npos);
  EXPECT_NE(run.console.find("エラー数が100を超えたのでコンバートを中止します\n"), std::string::npos);
  EXPECT_NE(run.console.find(kFinish), std::string::npos);
}

}  // namespace
}  // namespace kv
