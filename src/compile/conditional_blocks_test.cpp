#include <algorithm>
#include <utility>
#include <vector>

#include "test_support/compile_test_util.h"

namespace kv::testing {
namespace {

class ConditionalBlocksTest : public CompileTest {
 protected:
  // Conditional jump on variable `v` with distance d.
  static std::string IfJump(const std::string& v, int32_t d) {
    return Cmd(281) + Ch(2) + Ch(1) + Var(v) + Ch(1) + Long(d);
  }
  static std::string Goto(int32_t d) { return Cmd(606) + Ch(1) + Ch(1) + Long(d); }
  static std::string PlainBytes() { return Cmd(500) + Ch(0); }

  bool If(const std::string& v) {
    Statement({{W(v)}}, cmd::kIf);
    return handlers.If();
  }
  bool ElseIf(const std::string& v) {
    Statement({{W(v)}}, cmd::kElseIf);
    return handlers.ElseIf();
  }
  bool Else() {
    Statement({}, cmd::kElse);
    return handlers.Else();
  }
  bool EndIf() {
    Statement({}, cmd::kEndIf);
    return handlers.EndIf();
  }
};

TEST_F(ConditionalBlocksTest, ChainPatchesEveryJump) {
  // if a / X / elseif b / Y / else / Z / endif
  ASSERT_TRUE(If("a"));
  Plain();
  ASSERT_TRUE(ElseIf("b"));
  Plain();
  ASSERT_TRUE(Else());
  Plain();
  ASSERT_TRUE(EndIf());
  EXPECT_EQ(Bytes(), IfJump("a", 5) + PlainBytes() + Goto(11) + IfJump("b", 5) + PlainBytes() +
                         Goto(2) + PlainBytes());
  EXPECT_EQ(sys.script.itemPosition, 20u);
  EXPECT_EQ(command.BlockDepth(), 0u);
  EXPECT_EQ(Console(), "");
}

TEST_F(ConditionalBlocksTest, SimpleIfAndChainsOfElseIf) {
  ASSERT_TRUE(If("a"));
  ASSERT_TRUE(EndIf());
  EXPECT_EQ(Bytes(), IfJump("a", 0));

  object.contents.clear();
  object.position = 0;
  sys.script.itemPosition = 0;
  ASSERT_TRUE(If("a"));
  Plain();
  ASSERT_TRUE(EndIf());
  EXPECT_EQ(Bytes(), IfJump("a", 2) + PlainBytes());

  // if a / elseif b / elseif c / endif: every exit lands after the chain.
  object.contents.clear();
  object.position = 0;
  sys.script.itemPosition = 0;
  ASSERT_TRUE(If("a"));
  ASSERT_TRUE(ElseIf("b"));
  ASSERT_TRUE(ElseIf("c"));
  ASSERT_TRUE(EndIf());
  EXPECT_EQ(Bytes(), IfJump("a", 3) + Goto(11) + IfJump("b", 3) + Goto(4) + IfJump("c", 0));
  EXPECT_EQ(command.BlockDepth(), 0u);
}

TEST_F(ConditionalBlocksTest, NestedChainClosesOnlyItself) {
  // if a / elseif b / if c / endif / endif
  ASSERT_TRUE(If("a"));
  ASSERT_TRUE(ElseIf("b"));
  ASSERT_TRUE(If("c"));
  ASSERT_TRUE(EndIf());
  EXPECT_EQ(command.BlockDepth(), 3u);
  ASSERT_TRUE(EndIf());
  EXPECT_EQ(Bytes(), IfJump("a", 3) + Goto(8) + IfJump("b", 4) + IfJump("c", 0));
  EXPECT_EQ(command.BlockDepth(), 0u);
}

TEST_F(ConditionalBlocksTest, PendingExitsArePassedOver) {
  command.PushBlock({BlkLoopExit, 1, 2, 0});
  ASSERT_TRUE(If("a"));
  command.PushBlock({BlkFunctionExit, 3, 4, 0});
  ASSERT_TRUE(Else());
  ASSERT_TRUE(EndIf());
  ASSERT_EQ(command.BlockDepth(), 2u);
  EXPECT_EQ(command.Blocks()[0].flags, uint32_t{BlkLoopExit});
  EXPECT_EQ(command.Blocks()[1].flags, uint32_t{BlkFunctionExit});
}

TEST_F(ConditionalBlocksTest, CloserWithoutIfReportsAndPatchesNothing) {
  EXPECT_FALSE(EndIf());
  EXPECT_FALSE(Else());
  EXPECT_FALSE(ElseIf("a"));
  EXPECT_EQ(Console(), "エラー : endif に対応する \"if\" が見つかりませんでした\n"
                       "エラー : else に対応する \"if\" が見つかりませんでした\n"
                       "エラー : elseif に対応する \"if\" が見つかりませんでした\n");

  // Innermost opener of another kind (no jump of its own), with a pending
  // exit above it: nothing is written or patched, the stack is unchanged.
  const std::string before = kv::Bytes("AA BB CC DD EE");
  object.contents = before;
  object.position = 5;
  const BlockRecord exit{BlkFunctionExit, 0, 0, 8};
  for (uint32_t kind : {uint32_t{BlkFunction}, uint32_t{BlkLoopStart}, uint32_t{BlkReleaseOnly}}) {
    command.ClearBlocks();
    command.PushBlock({kind, 0, 0, 7});
    command.PushBlock(exit);
    EXPECT_FALSE(EndIf());
    EXPECT_FALSE(Else());
    EXPECT_FALSE(ElseIf("a"));
    EXPECT_EQ(Bytes(), before);
    ASSERT_EQ(command.BlockDepth(), 2u);
    EXPECT_EQ(command.Blocks()[0].flags, kind);
    EXPECT_EQ(command.Blocks()[1].flags, uint32_t{BlkFunctionExit});
  }
  EXPECT_EQ(sys.log.errorCount, 12);
}

TEST_F(ConditionalBlocksTest, ElseTwiceAndElseIfAfterElseKeepTheChain) {
  ASSERT_TRUE(If("a"));
  ASSERT_TRUE(Else());
  EXPECT_FALSE(Else());
  EXPECT_FALSE(ElseIf("b"));
  EXPECT_EQ(Console(), "エラー : else は 2 回以上使用できません\n"
                       "エラー : else の後に elseif は使用できません\n");
  ASSERT_TRUE(EndIf());
  EXPECT_EQ(Bytes(), IfJump("a", 3) + Goto(0));
  EXPECT_EQ(command.BlockDepth(), 0u);
}

TEST_F(ConditionalBlocksTest, ParameterCounts) {
  Statement({{W("a")}, {W("b")}}, cmd::kIf);
  EXPECT_FALSE(handlers.If());
  command.SetStatementId(cmd::kElseIf);
  EXPECT_FALSE(handlers.ElseIf());
  Statement({{W("a")}}, cmd::kEndIf);
  EXPECT_FALSE(handlers.EndIf());
  const std::string error = "エラー : コマンドパラメータの指定数が間違っています\n";
  EXPECT_EQ(Console(), error + "備考 : \"if\" のパラメータは 2 個です (指定できる数 : 1 個)\n" +
                           error + "備考 : \"elseif\" のパラメータは 2 個です (指定できる数 : 1 個)\n" +
                           error + "備考 : \"endif\" のパラメータは 1 個です (指定できる数 : 0 個)\n");
  EXPECT_EQ(Bytes(), "");
}

TEST_F(ConditionalBlocksTest, JumpWritersWithoutObject) {
  sys.script.currentObject = nullptr;
  EXPECT_FALSE(handlers.SetOffset(0, 0));
  BlockRecord record;
  EXPECT_FALSE(handlers.OutSysGotoCmd(&record));
  EXPECT_EQ(Console(), "内部エラー : SetOffset(1) 現在のオブジェクト取得に失敗\n"
                       "内部エラー : KCFuncSet::OutCmdName(1) OutSysGotoCmd(1) オブジェクトの取得に失敗\n");
}

TEST_F(ConditionalBlocksTest, SetOffsetPatchesInPlaceAndKeepsTheEnd) {
  BlockRecord record;
  sys.script.itemPosition = 10;
  ASSERT_TRUE(handlers.OutSysGotoCmd(&record));
  EXPECT_EQ(record.patchPos, 9u);
  EXPECT_EQ(record.baseIndex, 13u);
  Plain();
  ASSERT_TRUE(handlers.SetOffset(record.patchPos, record.baseIndex));
  Plain();
  EXPECT_EQ(Bytes(), Goto(2) + PlainBytes() + PlainBytes());
}

TEST_F(ConditionalBlocksTest, OpenBlocksAreReportedAtTheEndOfTheScript) {
  AtLine(1);
  Statement({{W("c")}});
  ASSERT_TRUE(handlers.Loop());
  AtLine(2);
  ASSERT_TRUE(If("a"));
  AtLine(3);
  ASSERT_TRUE(ElseIf("b"));
  AtLine(4);
  Statement({});
  ASSERT_TRUE(handlers.LoopExit());
  AtLine(5);
  ASSERT_TRUE(handlers.Void());
  AtLine(9);
  Console();
  handlers.CloseOpenBlocks();
  EXPECT_EQ(Console(),
            "エラー : /game/main.txt 9 行目 \"void\" のブロックが閉じられていません (5 行目で開始)\n"
            "エラー : /game/main.txt 9 行目 \"if\" のブロックが閉じられていません (2 行目で開始)\n"
            "エラー : /game/main.txt 9 行目 \"loop\" のブロックが閉じられていません (1 行目で開始)\n");
  EXPECT_EQ(command.BlockDepth(), 0u);
  handlers.CloseOpenBlocks();
  EXPECT_EQ(Console(), "");
}

TEST_F(ConditionalBlocksTest, AnExitWithoutItsLoopIsReportedItself) {
  // The exit's jump would stay unpatched: the script must not pass.
  EXPECT_TRUE(RunScript("if a;\nloop_exit;\nendif;\nfunction_exit;\n"));
  EXPECT_EQ(Console(),
            "エラー : /game/main.txt 4 行目 \"function_exit\" のブロックが閉じられていません (4 行目で開始)\n"
            "エラー : /game/main.txt 4 行目 \"loop_exit\" のブロックが閉じられていません (2 行目で開始)\n");
}

TEST_F(ConditionalBlocksTest, ScriptChain) {
  ASSERT_TRUE(RunScript("if a;\n x;\nelseif b;\n x;\nelse;\n x;\nendif;\n"));
  const std::string x = Cmd(CmdImplicitText) + Ch(1) + Ch(1) + Var("x");
  EXPECT_EQ(Bytes(), IfJump("a", 6) + x + Goto(13) + IfJump("b", 6) + x + Goto(3) + x +
                         Cmd(cmd::kEnd) + Ch(0));
  EXPECT_EQ(Console(), "");
}

TEST_F(ConditionalBlocksTest, BlocksLeftOpenAtTheEndOfAScript) {
  EXPECT_TRUE(RunScript("if a;\nloop b;\nfunction f;\n"));
  EXPECT_EQ(Console(),
            "エラー : /game/main.txt 3 行目 \"function\" のブロックが閉じられていません (3 行目で開始)\n"
            "エラー : /game/main.txt 3 行目 \"loop\" のブロックが閉じられていません (2 行目で開始)\n"
            "エラー : /game/main.txt 3 行目 \"if\" のブロックが閉じられていません (1 行目で開始)\n");
  EXPECT_EQ(command.BlockDepth(), 0u);
}

TEST_F(ConditionalBlocksTest, DeeplyNestedScriptBlocks) {
  std::string text;
  for (int i = 0; i < 100000; ++i) text += "if a;\n";
  for (int i = 0; i < 100000; ++i) text += "endif;\n";
  text += "endif;\n";
  EXPECT_FALSE(RunScript(text));
  EXPECT_EQ(Console(),
            "エラー : /game/main.txt 200001 行目 endif に対応する \"if\" が見つかりませんでした\n");
  EXPECT_EQ(sys.script.itemPosition, 400000u);
  // The innermost jump is 0, the outermost jumps over all the others.
  EXPECT_EQ(Bytes().substr(99999 * 22, 22), IfJump("a", 0));
  EXPECT_EQ(Bytes().substr(0, 22), IfJump("a", 399996));
}

// The text behind the statement being read is given back as the reading
// goes on; a block opened megabytes before the end is still reported where
// it was opened, line and column.
TEST_F(ConditionalBlocksTest, ABlockOpenedFarBackKeepsItsPlace) {
  struct Openings : DiagnosticListener {
    void OnDiagnostic(const Diagnostic& d) override {
      for (const RelatedPlace& r : d.related) places.emplace_back(r.place.line, r.place.column);
    }
    std::vector<std::pair<int32_t, int32_t>> places;
  } openings;
  sys.log.set_listener(&openings);
  std::string text = "x;\n  /* c */ if a;\n";
  const std::string line = "text \"" + std::string(250, 'x') + "\";\n";
  while (text.size() < (size_t{3} << 20)) text += line;
  EXPECT_TRUE(RunScript(text));
  const std::string last = std::to_string(std::count(text.begin(), text.end(), '\n'));
  EXPECT_EQ(Console(), "エラー : /game/main.txt " + last +
                           " 行目 \"if\" のブロックが閉じられていません (2 行目で開始)\n");
  EXPECT_EQ(openings.places, (std::vector<std::pair<int32_t, int32_t>>{{2, 11}}));
  sys.log.set_listener(nullptr);
}

}  // namespace
}  // namespace kv::testing
