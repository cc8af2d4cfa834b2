#include "compile/func_set.h"

#include "test_support/compile_test_util.h"

namespace kv::testing {
namespace {

using FuncSetTest = CompileTest;

TEST_F(FuncSetTest, EntriesAreWrittenByteExact) {
  EXPECT_TRUE(funcs.OutString("", "t"));
  EXPECT_TRUE(funcs.OutVariable("", "t"));
  EXPECT_TRUE(funcs.OutString("ab", "t"));
  EXPECT_TRUE(funcs.OutVariable("x", "t"));
  EXPECT_TRUE(funcs.OutChar(0xFF, "t"));
  EXPECT_TRUE(funcs.OutLong(-1, "t"));
  EXPECT_TRUE(funcs.OutLong(0x12345678, "t"));
  EXPECT_TRUE(funcs.OutDouble(3.0));
  EXPECT_TRUE(funcs.OutCmdName(606, "t"));
  EXPECT_EQ(Bytes(), kv::Bytes("02 00000000 20 00000000 02 02000000 6162 20 01000000 78 04 FF"
                         "08 FFFFFFFF 08 78563412 10 0000000000000840 01 5E020000"));
  EXPECT_EQ(Console(), "");
}

TEST_F(FuncSetTest, StringBytesAreCopiedWhole) {
  // Shift-JIS bytes unchanged, and a NUL byte does not cut the data short of
  // the length written before it.
  const std::string text("\x82\xA0\0z", 4);
  EXPECT_TRUE(funcs.OutString(text, "t"));
  EXPECT_EQ(Bytes(), "\x02" + Le32(4) + text);
}

TEST_F(FuncSetTest, WriteInsideTheContentsOverwritesInPlace) {
  funcs.OutLong(-1, "t");
  funcs.OutChar(7, "t");
  object.FileSeek(0, 0);
  EXPECT_TRUE(funcs.OutLong(5, "t"));
  EXPECT_EQ(Bytes(), kv::Bytes("08 05000000 04 07"));
  EXPECT_EQ(object.position, 5u);
}

TEST_F(FuncSetTest, MissingObjectOrFailedWriteIsReportedWithTheContext) {
  // Every encoder once, each with its own context.
  auto write_all = [&] {
    EXPECT_FALSE(funcs.OutString("a", "C1"));
    EXPECT_FALSE(funcs.OutChar(1, "C2"));
    EXPECT_FALSE(funcs.OutLong(1, "C3"));
    EXPECT_FALSE(funcs.OutDouble(1));
    EXPECT_FALSE(funcs.OutVariable("a", "C5"));
    EXPECT_FALSE(funcs.OutCmdName(1, "C6"));
  };
  sys.script.currentObject = nullptr;
  write_all();
  EXPECT_EQ(Console(),
            "内部エラー : KCFuncSet::OutString(1) C1 オブジェクトの取得に失敗\n"
            "内部エラー : KCFuncSet::OutChar(1) C2 オブジェクトの取得に失敗\n"
            "内部エラー : KCFuncSet::OutLong(1) C3 オブジェクトの取得に失敗\n"
            "内部エラー : KCFuncSet::OutDouble(1) QueueOut(4) オブジェクトの取得に失敗\n"
            "内部エラー : KCFuncSet::OutVariable(1) C5 オブジェクトの取得に失敗\n"
            "内部エラー : KCFuncSet::OutCmdName(1) C6 オブジェクトの取得に失敗\n");
  EXPECT_EQ(sys.log.errorCount, 6);
  EXPECT_EQ(sys.log.errorsSinceLimit, 0);

  KCFile closed(fs);
  sys.script.currentObject = &closed;
  write_all();
  EXPECT_EQ(Console(),
            "内部エラー : KCFuncSet::OutString(2) C1 コマンド指定子の出力に失敗\n"
            "内部エラー : KCFuncSet::OutChar(2) C2 char データの出力に失敗\n"
            "内部エラー : KCFuncSet::OutLong(2) C3 long データの出力に失敗\n"
            "内部エラー : KCFuncSet::OutDouble(2) QueueOut(4) double データの出力に失敗\n"
            "内部エラー : KCFuncSet::OutVariable(2) C5 コマンド指定子の出力に失敗\n"
            "内部エラー : KCFuncSet::OutCmdName(2) C6 コマンドの出力に失敗\n");
  sys.script.currentObject = nullptr;
}

TEST_F(FuncSetTest, ParameterCountIsCheckedAfterTheCommandCode) {
  Statement({});
  EXPECT_TRUE(funcs.OutCmdName(442, "t", 0, 0));
  EXPECT_EQ(Bytes(), kv::Bytes("01 BA010000 04 00"));

  // {0,0} takes no parameter; the code stays written after the error.
  object.contents.clear();
  object.position = 0;
  Statement({{W("a")}});
  EXPECT_FALSE(funcs.OutCmdName(442, "t", 0, 0));
  EXPECT_EQ(Bytes(), kv::Bytes("01 BA010000"));
  EXPECT_EQ(Console(), "エラー : コマンドパラメータの指定数が間違っています\n"
                       "備考 : \"end\" のパラメータは 1 個です (指定できる数 : 0 個)\n");

  // {2,6}: one is too few, six is fine, seven too many.
  Statement({{W("a")}});
  EXPECT_FALSE(funcs.OutCmdName(155, "t", 2, 6));
  Statement({{N(1)}, {N(2)}, {N(3)}, {N(4)}, {N(5)}, {N(6)}});
  EXPECT_TRUE(funcs.OutCmdName(155, "t", 2, 6));
  Statement({{N(1)}, {N(2)}, {N(3)}, {N(4)}, {N(5)}, {N(6)}, {N(7)}});
  EXPECT_FALSE(funcs.OutCmdName(155, "t", 2, 6));
  EXPECT_EQ(sys.log.errorCount, 3);
}

TEST_F(FuncSetTest, OpenCountMeansAtMost255) {
  command.ClearParameters();
  for (int i = 0; i < 255; ++i) command.AppendParameter({N(i)});
  EXPECT_TRUE(funcs.OutCmdName(15, "t", 1, 0));
  EXPECT_EQ(Bytes(), kv::Bytes("01 0F000000 04 FF"));
  command.AppendParameter({N(255)});
  EXPECT_FALSE(funcs.OutCommand(15, "t", 1, 0));
  EXPECT_EQ(Console(), "エラー : コマンドパラメータの指定数が間違っています\n"
                       "備考 : \"text\" のパラメータは 256 個です (指定できる数 : 1 ～ 255 個)\n");
  EXPECT_EQ(sys.script.itemPosition, 0u);
}

TEST_F(FuncSetTest, GenericCommandCompilesEveryParameter) {
  // layer_show bg, 1, 2;
  Statement({{W("bg")}, {N(1)}, {N(2)}});
  sys.script.itemPosition = 7;
  EXPECT_TRUE(funcs.OutCommand(155, "ReadCommand(3)", 2, 6));
  EXPECT_EQ(Bytes(), kv::Bytes("01 9B000000 04 03 04 01 20 02000000 6267"
                         "04 01 10 000000000000F03F 04 01 10 0000000000000040"));
  EXPECT_EQ(sys.script.itemPosition, 12u);
}

TEST_F(FuncSetTest, FailingParameterStopsTheCommand) {
  Statement({{N(1)}, {W("a"), Op("+")}, {N(3)}});
  EXPECT_FALSE(funcs.OutCommand(155, "t", 2, 6));
  EXPECT_EQ(Bytes(), kv::Bytes("01 9B000000 04 03 04 01 10 000000000000F03F"));
  EXPECT_EQ(Console(), "エラー : 文法が間違っています\n");
  EXPECT_EQ(sys.script.itemPosition, 0u);
}

}  // namespace
}  // namespace kv::testing
