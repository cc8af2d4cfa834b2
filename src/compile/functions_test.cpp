#include "test_support/compile_test_util.h"

namespace kv::testing {
namespace {

class FunctionsTest : public CompileTest {
 protected:
  bool Run(bool (StatementHandlers::*handler)(), std::initializer_list<CommandParameter> params = {}) {
    Statement(params);
    return (handlers.*handler)();
  }
  static std::string Goto(int32_t d) { return Cmd(606) + Ch(1) + Ch(1) + Long(d); }
};

TEST_F(FunctionsTest, FunctionIsRecordedWithItsBodyStart) {
  AtLine(3);
  sys.script.itemPosition = 10;
  ASSERT_TRUE(Run(&StatementHandlers::ReadCmdFunction, {{W("f")}}));
  EXPECT_EQ(Bytes(), kv::Bytes("01 5A 01 00 00 04 00"));
  EXPECT_EQ(sys.script.itemPosition, 12u);
  ASSERT_EQ(sys.results.FunctionDefinitions.size(), 1u);
  EXPECT_EQ(sys.results.FunctionDefinitions[0].name, "f");
  EXPECT_EQ(sys.results.FunctionDefinitions[0].script, "/game/main.txt");
  EXPECT_EQ(sys.results.FunctionDefinitions[0].position, 12u);
  EXPECT_EQ(command.TopBlock().flags, uint32_t{BlkFunction});
  EXPECT_EQ(command.TopBlock().line, 3u);
}

TEST_F(FunctionsTest, ExitLandsOnFunctionEnd) {
  ASSERT_TRUE(Run(&StatementHandlers::ReadCmdFunction, {{W("f")}}));
  ASSERT_TRUE(Run(&StatementHandlers::FunctionExit));
  ASSERT_TRUE(Run(&StatementHandlers::ReadCmdFunctionEnd));
  EXPECT_EQ(Bytes(), Cmd(346) + Ch(0) + Goto(0) + kv::Bytes("01 5F 01 00 00 04 00"));
  EXPECT_EQ(sys.script.itemPosition, 7u);
  EXPECT_EQ(command.BlockDepth(), 0u);
}

TEST_F(FunctionsTest, PendingLoopExitStaysForItsLoop) {
  command.PushBlock({BlkLoopExit, 1, 2, 0});
  ASSERT_TRUE(Run(&StatementHandlers::ReadCmdFunction, {{W("f")}}));
  command.PushBlock({BlkLoopExit, 3, 4, 0});
  ASSERT_TRUE(Run(&StatementHandlers::FunctionExit));
  command.PushBlock({BlkLoopExit, 5, 6, 0});
  ASSERT_TRUE(Run(&StatementHandlers::ReadCmdFunctionEnd));
  ASSERT_EQ(command.BlockDepth(), 3u);
  EXPECT_EQ(command.Blocks()[0].patchPos, 1u);
  EXPECT_EQ(command.Blocks()[1].patchPos, 3u);
  EXPECT_EQ(command.Blocks()[2].patchPos, 5u);
}

TEST_F(FunctionsTest, FunctionEndNeedsAFunctionOpener) {
  EXPECT_FALSE(Run(&StatementHandlers::ReadCmdFunctionEnd));
  EXPECT_FALSE(Run(&StatementHandlers::FunctionExit));
  EXPECT_EQ(Console(), "エラー : function_end に対応する \"function\" が見つかりませんでした\n"
                       "エラー : function_exit に対応する \"function\" が見つかりませんでした\n");
  // An if opener with a pending exit above it: nothing patched or written.
  ASSERT_TRUE(Run(&StatementHandlers::If, {{W("a")}}));
  ASSERT_TRUE(Run(&StatementHandlers::FunctionExit));
  const std::string before = Bytes();
  EXPECT_FALSE(Run(&StatementHandlers::ReadCmdFunctionEnd));
  EXPECT_EQ(Console(), "エラー : function_end に対応する \"function\" が見つかりませんでした\n");
  EXPECT_EQ(Bytes(), before);
  ASSERT_EQ(command.BlockDepth(), 2u);
  EXPECT_EQ(command.Blocks()[0].flags, uint32_t{BlkIf});
  EXPECT_EQ(command.Blocks()[1].flags, uint32_t{BlkFunctionExit});
}

TEST_F(FunctionsTest, FailuresOfTheNameParameters) {
  EXPECT_FALSE(Run(&StatementHandlers::ReadCmdFunction, {{W("a"), W("b")}}));
  EXPECT_FALSE(Run(&StatementHandlers::NewCommand, {{W("x"), W("y")}, {W("text")}}));
  EXPECT_EQ(Console(), "エラー : 文法が間違っています\nエラー : 文法が間違っています\n");
  EXPECT_EQ(Bytes(), "");
  EXPECT_EQ(command.BlockDepth(), 0u);
  EXPECT_FALSE(Run(&StatementHandlers::ReadCmdFunction));
  EXPECT_FALSE(Run(&StatementHandlers::NewCommand, {{W("x")}}));
  EXPECT_EQ(Console(), "エラー : コマンドパラメータの指定数が間違っています\n"
                       "エラー : コマンドパラメータの指定数が間違っています\n");
}

TEST_F(FunctionsTest, NewCommandDefinesAnAlias) {
  command.InitCommandTable();
  command.DeleteSetupCommands();  // text is found by its alias only in the main phase
  ASSERT_TRUE(Run(&StatementHandlers::NewCommand, {{W("say")}, {W("text")}}));
  EXPECT_EQ(command.FindAliasId("say"), cmd::kText);
  EXPECT_EQ(Bytes(), "");
}

TEST_F(FunctionsTest, VoidBlocks) {
  ASSERT_TRUE(Run(&StatementHandlers::Void));
  EXPECT_EQ(command.TopBlock().flags, uint32_t{BlkVoid});
  ASSERT_TRUE(Run(&StatementHandlers::VoidEnd));
  EXPECT_EQ(command.BlockDepth(), 0u);
  EXPECT_FALSE(Run(&StatementHandlers::VoidEnd));
  // Another block on top stays for its own closer.
  command.PushBlock({BlkIf, 0, 0, 0});
  EXPECT_FALSE(Run(&StatementHandlers::VoidEnd));
  EXPECT_EQ(command.BlockDepth(), 1u);
  EXPECT_FALSE(Run(&StatementHandlers::Void, {{W("a")}}));
  EXPECT_EQ(Console(), "エラー : void_end に対応する \"void\" が見つかりませんでした\n"
                       "エラー : void_end に対応する \"void\" が見つかりませんでした\n"
                       "エラー : コマンドパラメータの指定数が間違っています\n");
  EXPECT_EQ(Bytes(), "");
}

TEST_F(FunctionsTest, ScriptFunctionWithLoopAndLabel) {
  ASSERT_TRUE(RunScript("function f;\nloop c;\nfunction_exit;\nloop_exit;\nloop_end;\n"
                        "done:\nfunction_end;\nvalue a @ 10;\n"));
  EXPECT_EQ(Bytes(), Cmd(346) + Ch(0) + Cmd(281) + Ch(2) + Ch(1) + Var("c") + Ch(1) + Long(9) +
                         Goto(6) + Goto(3) + Goto(-13) + Cmd(351) + Ch(0) +
                         kv::Bytes("01 00 00 00 00 04 01 04 03 20 01 00 00 00 61 04 10"
                             "10 00 00 00 00 00 00 24 40") +
                         Cmd(cmd::kEnd) + Ch(0));
  ASSERT_EQ(sys.results.FunctionDefinitions.size(), 1u);
  EXPECT_EQ(sys.results.FunctionDefinitions[0].position, 2u);
  ASSERT_EQ(sys.results.LabelDefinitions.size(), 1u);
  EXPECT_EQ(sys.results.LabelDefinitions[0].name, "done");
  EXPECT_EQ(sys.results.LabelDefinitions[0].position, 15u);  // the function_end command
  EXPECT_EQ(sys.script.itemPosition, 20u);
  EXPECT_EQ(Console(), "");
}

}  // namespace
}  // namespace kv::testing
