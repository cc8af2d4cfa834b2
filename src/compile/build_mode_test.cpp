#include "test_support/compile_test_util.h"

namespace kv::testing {
namespace {

class BuildModeTest : public CompileTest {
 protected:
  bool Run(bool (StatementHandlers::*handler)(), std::initializer_list<CommandParameter> params = {},
           int32_t id = CmdInvalid) {
    Statement(params, id);
    return (handlers.*handler)();
  }
};

TEST_F(BuildModeTest, DebugOnlyBlocks) {
  ASSERT_TRUE(Run(&StatementHandlers::DebugOnly));
  EXPECT_EQ(command.TopBlock().flags, uint32_t{BlkDebugOnly});
  ASSERT_TRUE(Run(&StatementHandlers::DebugOnlyEnd));
  EXPECT_EQ(command.BlockDepth(), 0u);
  EXPECT_FALSE(Run(&StatementHandlers::DebugOnlyEnd));
  command.PushBlock({BlkVoid, 0, 0, 0});
  EXPECT_FALSE(Run(&StatementHandlers::DebugOnlyEnd));
  EXPECT_EQ(command.BlockDepth(), 1u);
  EXPECT_FALSE(Run(&StatementHandlers::DebugOnly, {{W("a")}}));
  EXPECT_EQ(Console(), "エラー : debug_only_end に対応する \"debug_only\" が見つかりませんでした\n"
                       "エラー : debug_only_end に対応する \"debug_only\" が見つかりませんでした\n"
                       "エラー : コマンドパラメータの指定数が間違っています\n");
  EXPECT_EQ(Bytes(), "");
}

TEST_F(BuildModeTest, ReleaseOnlyRecordIsTransparent) {
  // release_only / if a / release_only_end / endif
  ASSERT_TRUE(Run(&StatementHandlers::ReleaseOnly));
  ASSERT_TRUE(Run(&StatementHandlers::If, {{W("a")}}));
  ASSERT_TRUE(Run(&StatementHandlers::ReleaseOnlyEnd));
  ASSERT_EQ(command.BlockDepth(), 1u);
  EXPECT_EQ(command.TopBlock().flags, uint32_t{BlkIf});
  ASSERT_TRUE(Run(&StatementHandlers::EndIf));
  EXPECT_EQ(command.BlockDepth(), 0u);
  EXPECT_EQ(Bytes(), Cmd(281) + Ch(2) + Ch(1) + Var("a") + Ch(1) + Long(0));

  // Without a release_only record the stack stays as it was.
  command.PushBlock({BlkLoopStart, 0, 0, 0});
  command.PushBlock({BlkIf, 9, 9, 0});
  EXPECT_FALSE(Run(&StatementHandlers::ReleaseOnlyEnd));
  EXPECT_EQ(Console(),
            "エラー : release_only_end に対応する \"release_only\" が見つかりませんでした\n");
  ASSERT_EQ(command.BlockDepth(), 2u);
  EXPECT_EQ(command.Blocks()[0].flags, uint32_t{BlkLoopStart});
  EXPECT_EQ(command.Blocks()[1].flags, uint32_t{BlkIf});
}

TEST_F(BuildModeTest, LabelsNameTheNextCommand) {
  AtLine(1);
  sys.script.itemPosition = 10;
  ASSERT_TRUE(Run(&StatementHandlers::Label, {{L("start")}}));
  sys.script.itemPosition = 30;
  ASSERT_TRUE(Run(&StatementHandlers::Label, {{L("start")}}));
  ASSERT_TRUE(Run(&StatementHandlers::Label, {{L("next")}}));
  EXPECT_EQ(Bytes(), "");
  EXPECT_EQ(sys.script.itemPosition, 30u);
  ASSERT_EQ(sys.results.LabelDefinitions.size(), 2u);
  EXPECT_EQ(sys.results.LabelDefinitions[0].name, "start");
  EXPECT_EQ(sys.results.LabelDefinitions[0].position, 10u);
  EXPECT_EQ(sys.results.LabelDefinitions[1].name, "next");
  EXPECT_EQ(sys.results.LabelDefinitions[1].position, 30u);
  EXPECT_FALSE(Run(&StatementHandlers::Label, {{L("a"), W("b")}}, CmdLabel));
  EXPECT_EQ(Console(), "エラー : /game/main.txt 1 行目 文法が間違っています\n"
                       "備考 : /game/main.txt 1 行目 問題の字句は \"b\" (1 桁目) です\n");
  EXPECT_FALSE(Run(&StatementHandlers::Label, {{L("a")}, {W("b")}}, CmdLabel));
  EXPECT_EQ(Console(), "エラー : /game/main.txt 1 行目 コマンドパラメータの指定数が間違っています\n"
                       "備考 : /game/main.txt 1 行目 \"a:\" のパラメータは 2 個です (指定できる数 : 1 個)\n");
}

TEST_F(BuildModeTest, CreateWindowEndsTheSetupPhase) {
  command.InitCommandTable();
  sys.script.setupPhase = true;
  Statement({{N(640)}, {N(480)}});
  ASSERT_TRUE(handlers.ReadCmdWindowSize());
  ASSERT_TRUE(Run(&StatementHandlers::ReadCmdCreateWindow));
  EXPECT_EQ(Bytes(), kv::Bytes("01 90 01 00 00 04 02") + Ch(1) + Num(640) + Ch(1) + Num(480) +
                         kv::Bytes("01 8F 01 00 00 04 00"));
  EXPECT_EQ(sys.script.itemPosition, 6u);
  EXPECT_FALSE(sys.script.setupPhase);
  EXPECT_FALSE(command.InSetupPhase());

  Statement({{N(640)}, {N(480)}});
  EXPECT_FALSE(handlers.ReadCmdWindowSize());
  EXPECT_EQ(Console(), "エラー : \"window_size\" メイン処理中には使用できないコマンドです\n");
  EXPECT_EQ(sys.script.itemPosition, 6u);
}

TEST_F(BuildModeTest, SetupCommandsCheckTheirCounts) {
  sys.script.setupPhase = true;
  EXPECT_FALSE(Run(&StatementHandlers::ReadCmdCreateWindow, {{W("a")}}));
  EXPECT_FALSE(Run(&StatementHandlers::ReadCmdWindowSize, {{N(1)}}));
  EXPECT_TRUE(sys.script.setupPhase);
  EXPECT_EQ(Bytes(), "");
  EXPECT_EQ(sys.log.errorCount, 2);
}

}  // namespace
}  // namespace kv::testing
