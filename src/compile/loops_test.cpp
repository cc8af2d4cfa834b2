#include "test_support/compile_test_util.h"

namespace kv::testing {
namespace {

class LoopsTest : public CompileTest {
 protected:
  static std::string IfJump(const std::string& v, int32_t d) {
    return Cmd(281) + Ch(2) + Ch(1) + Var(v) + Ch(1) + Long(d);
  }
  static std::string Goto(int32_t d) { return Cmd(606) + Ch(1) + Ch(1) + Long(d); }

  bool Run(bool (StatementHandlers::*handler)(), std::initializer_list<CommandParameter> params = {}) {
    Statement(params);
    return (handlers.*handler)();
  }
  bool Loop(const std::string& v) { return Run(&StatementHandlers::Loop, {{W(v)}}); }
  bool LoopExit() { return Run(&StatementHandlers::LoopExit); }
  bool LoopEnd() { return Run(&StatementHandlers::ReadCmdLoopEnd); }
};

TEST_F(LoopsTest, LoopJumpsForwardAndBack) {
  ASSERT_TRUE(Loop("c"));
  Plain();
  ASSERT_TRUE(LoopEnd());
  EXPECT_EQ(Bytes(), IfJump("c", 5) + Cmd(500) + Ch(0) +
                         kv::Bytes("01 5E 02 00 00 04 01 04 01 08 F7 FF FF FF"));
  EXPECT_EQ(sys.script.itemPosition, 9u);
  EXPECT_EQ(command.BlockDepth(), 0u);
  EXPECT_EQ(Console(), "");
}

TEST_F(LoopsTest, ExitsLandAfterTheBackwardJump) {
  ASSERT_TRUE(Loop("c"));
  ASSERT_TRUE(LoopExit());
  ASSERT_TRUE(LoopExit());
  ASSERT_TRUE(LoopEnd());
  EXPECT_EQ(Bytes(), IfJump("c", 9) + Goto(6) + Goto(3) + Goto(-13));

  // An exit inside an if is passed over by endif and patched by loop_end.
  object.contents.clear();
  object.position = 0;
  sys.script.itemPosition = 0;
  ASSERT_TRUE(Loop("c"));
  ASSERT_TRUE(Run(&StatementHandlers::If, {{W("d")}}));
  ASSERT_TRUE(LoopExit());
  ASSERT_TRUE(Run(&StatementHandlers::EndIf));
  ASSERT_TRUE(LoopEnd());
  EXPECT_EQ(Bytes(), IfJump("c", 10) + IfJump("d", 3) + Goto(3) + Goto(-14));
  EXPECT_EQ(command.BlockDepth(), 0u);
}

TEST_F(LoopsTest, FunctionExitInsideALoopIsKeptForTheFunction) {
  ASSERT_TRUE(Run(&StatementHandlers::ReadCmdFunction, {{W("f")}}));
  ASSERT_TRUE(Loop("c"));
  ASSERT_TRUE(Run(&StatementHandlers::FunctionExit));
  ASSERT_TRUE(LoopEnd());
  ASSERT_EQ(command.BlockDepth(), 2u);
  EXPECT_EQ(command.TopBlock().flags, uint32_t{BlkFunctionExit});
  ASSERT_TRUE(Run(&StatementHandlers::ReadCmdFunctionEnd));
  // The exit lands on the function_end command, index 12.
  EXPECT_EQ(Bytes(), Cmd(346) + Ch(0) + IfJump("c", 6) + Goto(3) + Goto(-10) + Cmd(351) + Ch(0));
  EXPECT_EQ(command.BlockDepth(), 0u);
}

TEST_F(LoopsTest, UnclosedIfInsideTheLoop) {
  AtLine(1);
  ASSERT_TRUE(Loop("c"));
  AtLine(2);
  ASSERT_TRUE(Run(&StatementHandlers::If, {{W("d")}}));
  AtLine(3);
  EXPECT_FALSE(LoopEnd());
  // The internal error has a line of its own, and says what to do.
  EXPECT_EQ(Console(), "内部エラー : /game/main.txt 3 行目 ReadCmdLoopEnd(1)\n"
                       "備考 : /game/main.txt 3 行目 2 行目で開始した \"if\" のブロックを "
                       "loop_end より前に閉じてください\n");
  // Nothing was lost: the endif and the loop_end that follow close both.
  ASSERT_TRUE(Run(&StatementHandlers::EndIf));
  ASSERT_TRUE(LoopEnd());
  EXPECT_EQ(Bytes(), IfJump("c", 7) + IfJump("d", 0) + Goto(-11));
}

TEST_F(LoopsTest, AnIfAfterAFailedLoopIsNoLoopCondition) {
  // The loop's condition does not compile, so only its start marker stays;
  // the if that follows is an if of its own, closed by its endif.
  EXPECT_FALSE(RunScript("loop a +;\nif b;\ntext x;\nendif;\n"));
  EXPECT_EQ(Console(),
            "エラー : /game/main.txt 1 行目 文法が間違っています\n"
            "備考 : /game/main.txt 1 行目 問題の字句は \"+\" (8 桁目) です\n"
            "エラー : /game/main.txt 4 行目 \"loop\" のブロックが閉じられていません (1 行目で開始)\n");
}

TEST_F(LoopsTest, LoopEndNeverPatchesARecordWithoutAJump) {
  EXPECT_FALSE(LoopEnd());
  EXPECT_FALSE(LoopExit());
  EXPECT_EQ(Console(), "エラー : loop_end に対応する \"loop\" が見つかりませんでした\n"
                       "エラー : loop_exit に対応する \"loop\" が見つかりませんでした\n");
  const std::string before = kv::Bytes("AA BB CC DD EE");
  object.contents = before;
  object.position = 5;
  // A function record, and two loop start markers whose condition jumps an
  // endif has already taken.
  command.PushBlock({BlkLoopStart, 0, 0, 1});
  command.PushBlock({BlkLoopStart, 0, 0, 2});
  command.PushBlock({BlkFunction, 0, 0, 3});
  EXPECT_FALSE(LoopEnd());
  command.PopBlock();
  EXPECT_FALSE(LoopEnd());
  EXPECT_EQ(Console(), "エラー : loop_end に対応する \"loop\" が見つかりませんでした\n"
                       "エラー : loop_end に対応する \"loop\" が見つかりませんでした\n");
  EXPECT_EQ(Bytes(), before);
  EXPECT_EQ(command.BlockDepth(), 2u);
}

TEST_F(LoopsTest, ParameterCounts) {
  EXPECT_FALSE(Run(&StatementHandlers::Loop));
  EXPECT_FALSE(Run(&StatementHandlers::LoopExit, {{W("a")}}));
  EXPECT_FALSE(Run(&StatementHandlers::ReadCmdLoopEnd, {{W("a")}}));
  EXPECT_EQ(sys.log.errorCount, 3);
  EXPECT_EQ(Bytes(), "");
}

}  // namespace
}  // namespace kv::testing
