#include "test_support/compile_test_util.h"

namespace kv::testing {
namespace {

class DeclarationsTest : public CompileTest {
 protected:
  bool Declare(int32_t id, std::initializer_list<CommandParameter> params) {
    Statement(params);
    return handlers.NGLVariable(id);
  }
};

TEST_F(DeclarationsTest, PiecesShareOnePatchedCount) {
  ASSERT_TRUE(Declare(cmd::kValue, {{W("a"), Op("@"), N(10)}}));
  EXPECT_EQ(Bytes(), kv::Bytes("01 00 00 00 00 04 01 04 03 20 01 00 00 00 61 04 10"
                         "10 00 00 00 00 00 00 24 40"));
  EXPECT_EQ(sys.script.itemPosition, 3u);

  object.contents.clear();
  object.position = 0;
  ASSERT_TRUE(Declare(cmd::kValue, {{W("x")}}));
  EXPECT_EQ(Bytes(), kv::Bytes("01 00 00 00 00 04 01 04 01 20 01 00 00 00 78"));
  EXPECT_EQ(sys.script.itemPosition, 6u);
  EXPECT_EQ(Console(), "");
}

TEST_F(DeclarationsTest, SeveralParametersAndPieces) {
  // local_string s = "a" @ t, x = 5, (empty)
  ASSERT_TRUE(Declare(cmd::kLocalString, {{W("s"), Op("="), S("a"), Op("@"), W("t")},
                                          {W("x"), Op("="), N(5)},
                                          {}}));
  EXPECT_EQ(Bytes(), Cmd(5) + Ch(3) + Ch(5) + Var("s") + Str("a") + OpItem(13) + OpItem(16) +
                         Var("t") + Ch(3) + Var("x") + Num(5) + OpItem(13) + Ch(0));
  EXPECT_EQ(sys.script.itemPosition, 5u);
}

TEST_F(DeclarationsTest, Failures) {
  EXPECT_FALSE(Declare(cmd::kValue, {}));
  EXPECT_EQ(Bytes(), "");
  EXPECT_FALSE(Declare(cmd::kValue, {{W("a"), Op("@")}}));
  EXPECT_EQ(Console(), "エラー : コマンドパラメータの指定数が間違っています\n"
                       "備考 : \"value\" のパラメータは 0 個です (指定できる数 : 1 ～ 255 個)\n"
                       "エラー : 文法が間違っています\n");
  // The placeholder count stays where the failure left it.
  EXPECT_EQ(Bytes(), Cmd(0) + Ch(1) + Ch(0xFF));
  EXPECT_EQ(sys.script.itemPosition, 0u);

  object.contents.clear();
  object.position = 0;
  command.ClearParameters();
  for (int i = 0; i < 256; ++i) command.AppendParameter({W("v")});
  EXPECT_FALSE(handlers.NGLVariable(cmd::kGlobalValue));
  EXPECT_EQ(Bytes(), Cmd(1));
  EXPECT_EQ(Console(), "エラー : コマンドパラメータの指定数が間違っています\n"
                       "備考 : \"global_value\" のパラメータは 256 個です (指定できる数 : 1 ～ 255 個)\n");
}

TEST_F(DeclarationsTest, PiecesTogetherMayNotExceed255Items) {
  // 127 pieces "v @" make 254 items; one more piece of one item is 255.
  CommandParameter parameter;
  for (int i = 0; i < 127; ++i) {
    parameter.push_back(W("v"));
    parameter.push_back(Op("@"));
  }
  parameter.push_back(W("v"));
  ASSERT_TRUE(Declare(cmd::kValue, {parameter}));
  EXPECT_EQ(Bytes().substr(7, 2), Ch(255));

  object.contents.clear();
  object.position = 0;
  parameter.back() = Op("-");
  parameter.push_back(W("v"));  // the last piece is 0, v, -: 257 items
  EXPECT_FALSE(Declare(cmd::kValue, {parameter}));
  EXPECT_EQ(Console(), "エラー : パラメータの項目数が 255 を超えています\n");
  EXPECT_EQ(Bytes().substr(7, 2), Ch(0xFF));  // never written wrapped
}

}  // namespace
}  // namespace kv::testing
