#include "language/kc_command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "context/kc_system.h"
#include "test_support/memory_file_system.h"

namespace kv {
namespace {

CommandElement Word(const std::string& text) {
  CommandElement e;
  e.kind = ElemWord;
  e.text = text;
  return e;
}

CommandElement Number(double value) {
  CommandElement e;
  e.kind = ElemNumber;
  e.number = value;
  return e;
}

class KCCommandTest : public ::testing::Test {
 protected:
  // Texts of the parameters' elements, numbers as "#<value>", e.g. "[a b][#1]".
  std::string Statement() const {
    std::string out;
    for (uint32_t p = 0; p < command.GetParamCount(); ++p) {
      out += '[';
      for (uint32_t e = 0; command.ElementAt(p, e) != nullptr; ++e) {
        const CommandElement* element = command.ElementAt(p, e);
        if (e != 0) out += ' ';
        out += element->kind == ElemNumber ? "#" + std::to_string(int(element->number))
                                           : element->text;
      }
      out += ']';
    }
    return out;
  }

  // The statement "layer_show a, 1, 2;" as the tokenizer delivers it.
  void LayerShowStatement() {
    command.ClearParameters();
    command.AppendParameter({Word("layer_show"), Word("a")});
    command.AppendParameter({Number(1)});
    command.AppendParameter({Number(2)});
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
};

TEST_F(KCCommandTest, IndexedAccessReportsMissingParameterAndElement) {
  CommandElement element = Word("keep");
  EXPECT_FALSE(command.GetElement(0, 0, &element));
  EXPECT_EQ(TakeOutput(),
            "内部エラー : GetParamItr(1) 取得開始位置がパラメータサイズを超えた\n"
            "内部エラー : KCCommand::GetElement(1) パラメータイテレータ取得に失敗\n");
  EXPECT_EQ(element.text, "keep");

  command.AppendParameter({Word("a"), Word("b")});
  EXPECT_FALSE(command.GetElement(0, 2, &element));
  EXPECT_EQ(TakeOutput(), "内部エラー : KCCommand::GetElement(2) 要素取得位置が最大数を超えた\n");
  EXPECT_EQ(element.text, "keep");
  EXPECT_EQ(sys.log.errorCount, 3);
  EXPECT_EQ(sys.log.errorsSinceLimit, 0);

  EXPECT_EQ(command.GetElemSize(1), 0u);
  EXPECT_EQ(TakeOutput(),
            "内部エラー : GetParamItr(1) 取得開始位置がパラメータサイズを超えた\n"
            "内部エラー : KCCommand::GetElemSize(1) パラメータイテレータ取得に失敗\n");

  ASSERT_TRUE(command.GetElement(0, 1, &element));
  EXPECT_EQ(element.text, "b");
  EXPECT_EQ(element.kind, ElemWord);
  EXPECT_EQ(command.ElementAt(0, 2), nullptr);
  EXPECT_EQ(command.ElementAt(1, 0), nullptr);
  EXPECT_EQ(TakeOutput(), "");
}

TEST_F(KCCommandTest, DeleteElementRemovesTheCommandWord) {
  LayerShowStatement();
  EXPECT_TRUE(command.DeleteElement());
  EXPECT_EQ(Statement(), "[a][#1][#2]");

  // The command word alone: its parameter goes with it.
  command.ClearParameters();
  command.AppendParameter({Word("clear_text")});
  EXPECT_TRUE(command.DeleteElement());
  EXPECT_EQ(command.GetParamCount(), 0u);

  CommandElement abc;
  abc.kind = ElemString;
  abc.text = "abc";
  command.AppendParameter({Word("text")});
  command.AppendParameter({abc});
  EXPECT_TRUE(command.DeleteElement());
  EXPECT_EQ(Statement(), "[abc]");
  EXPECT_EQ(TakeOutput(), "");
}

TEST_F(KCCommandTest, ParametersOfEarlierStatementsDoNotShowThrough) {
  // The storage of a longer statement stays behind a shorter one, emptied.
  LayerShowStatement();
  command.ClearParameters();
  command.statement().AppendEmpty().push_back(Word("x"));
  EXPECT_EQ(Statement(), "[x]");
  EXPECT_EQ(command.ElementAt(1, 0), nullptr);
  EXPECT_EQ(command.GetElemSize(1), 0u);
  EXPECT_EQ(TakeOutput(),
            "内部エラー : GetParamItr(1) 取得開始位置がパラメータサイズを超えた\n"
            "内部エラー : KCCommand::GetElemSize(1) パラメータイテレータ取得に失敗\n");

  // A parameter cut short is dropped; one removed from the front or put in
  // front keeps the order of the others.
  command.statement().AppendEmpty().push_back(Word("cut"));
  command.statement().DropLast();
  EXPECT_EQ(Statement(), "[x]");
  command.AppendParameter({Word("y"), Number(2)});
  command.InsertParameterFront({Word("w")});
  EXPECT_EQ(Statement(), "[w][x][y #2]");
  command.DeleteParameter();
  EXPECT_EQ(Statement(), "[x][y #2]");
  command.statement().AppendEmpty();
  EXPECT_EQ(Statement(), "[x][y #2][]");
  EXPECT_EQ(TakeOutput(), "");
}

TEST_F(KCCommandTest, DeletingFromAnEmptyStatementReports) {
  EXPECT_FALSE(command.DeleteElement());
  EXPECT_EQ(TakeOutput(),
            "内部エラー : GetParamItr(1) 取得開始位置がパラメータサイズを超えた\n"
            "内部エラー : KCCommand::GetElemSize(1) パラメータイテレータ取得に失敗\n"
            "内部エラー : KCCommand::DeleteElement(1) 削除要素位置が最大数を超えた\n");

  command.AppendParameter({});
  EXPECT_FALSE(command.DeleteElement());
  EXPECT_EQ(TakeOutput(), "内部エラー : KCCommand::DeleteElement(1) 削除要素位置が最大数を超えた\n");
  EXPECT_EQ(command.GetParamCount(), 1u);

  command.ClearParameters();
  command.DeleteParameter();
  EXPECT_EQ(TakeOutput(),
            "内部エラー : KCCommand::DeleteParameter(1) 削除パラメータ位置が最大数を超えた\n");
}

TEST_F(KCCommandTest, BlockStackIsLastInFirstOutAndSafeWhenEmpty) {
  const BlockRecord zero{};
  EXPECT_EQ(command.TopBlock().flags, zero.flags);
  BlockRecord popped = command.PopBlock();
  EXPECT_EQ(popped.flags, 0u);
  EXPECT_EQ(popped.patchPos, 0u);
  EXPECT_EQ(popped.baseIndex, 0u);
  EXPECT_EQ(popped.line, 0u);
  EXPECT_EQ(command.BlockDepth(), 0u);

  command.PushBlock({BlkIf, 7, 3, 12});
  command.PushBlock({BlkLoopStart, 0, 9, 4});
  command.PushBlock({BlkVoid, 0, 0, 0});
  ASSERT_EQ(command.BlockDepth(), 3u);
  EXPECT_EQ(command.Blocks()[0].line, 12u);
  EXPECT_EQ(command.TopBlock().flags, BlkVoid);
  EXPECT_EQ(command.PopBlock().flags, BlkVoid);
  EXPECT_EQ(command.PopBlock().baseIndex, 9u);
  BlockRecord first = command.PopBlock();
  EXPECT_EQ(first.flags, BlkIf);
  EXPECT_EQ(first.line, 12u);
  EXPECT_EQ(first.patchPos, 7u);
  EXPECT_EQ(first.baseIndex, 3u);
  EXPECT_EQ(command.BlockDepth(), 0u);
}

TEST_F(KCCommandTest, MainPhaseLooksUpTheWholeTableByExactName) {
  command.InitCommandTable();
  command.DeleteSetupCommands();
  EXPECT_FALSE(command.InSetupPhase());
  for (int32_t id = 0; id < kCommandCount; ++id) {
    ASSERT_EQ(command.GetCommandId(kCommands[id].name), id);
    ASSERT_EQ(command.FindCommandId(kCommands[id].name), id);
  }
  EXPECT_EQ(command.GetCommandId("layer_show"), 155);
  EXPECT_EQ(command.GetCommandId("Text"), CmdInvalid);
  EXPECT_EQ(command.GetCommandId("text "), CmdInvalid);
  EXPECT_EQ(command.GetCommandId(""), CmdInvalid);
  EXPECT_EQ(command.GetParamCount(), 0u);
  EXPECT_FALSE(command.IsSetupCommandId(cmd::kCreateWindow));
  EXPECT_EQ(command.GetParamCountEntry(155).min, 2);
  EXPECT_EQ(command.GetParamCountEntry(155).max, 6);
  EXPECT_EQ(command.GetParamCountEntry(CmdImplicitText).min, 0);
}

TEST_F(KCCommandTest, SetupPhaseTurnsOtherWordsIntoCalc) {
  command.InitCommandTable();
  ASSERT_TRUE(command.InSetupPhase());
  // Exactly the setup ids resolve to themselves; every other name becomes calc
  // through a placeholder parameter in front of the statement.
  int setup_names = 0;
  for (int32_t id = 0; id < kCommandCount; ++id) {
    command.ClearParameters();
    const bool is_setup =
        std::binary_search(kSetupCommandIds.begin(), kSetupCommandIds.end(), id);
    ASSERT_EQ(command.IsSetupCommandId(id), is_setup) << id;
    const int32_t found = command.GetCommandId(kCommands[id].name);
    if (is_setup) {
      ++setup_names;
      ASSERT_EQ(found, id) << kCommands[id].name;
      ASSERT_EQ(command.GetParamCount(), 0u);
    } else {
      ASSERT_EQ(found, cmd::kCalc) << kCommands[id].name;
      ASSERT_EQ(command.GetParamCount(), 1u);
    }
  }
  EXPECT_EQ(setup_names, kSetupCommandCount);

  LayerShowStatement();
  EXPECT_EQ(command.GetCommandId("layer_show"), cmd::kCalc);
  ASSERT_EQ(command.GetParamCount(), 4u);
  const CommandElement* placeholder = command.ElementAt(0, 0);
  EXPECT_EQ(placeholder->kind, ElemString);
  EXPECT_EQ(placeholder->text, "calc");
  EXPECT_TRUE(command.DeleteElement());
  EXPECT_EQ(Statement(), "[layer_show a][#1][#2]");

  // Leaving and re-entering the setup phase rebuilds the set.
  command.DeleteSetupCommands();
  command.InitCommandTable();
  command.ClearParameters();
  EXPECT_EQ(command.GetCommandId("layer_show"), cmd::kCalc);
  EXPECT_EQ(TakeOutput(), "");
}

TEST_F(KCCommandTest, AliasesFollowThePhaseRules) {
  command.InitCommandTable();
  EXPECT_TRUE(command.AddAlias("layer_show", "show"));
  EXPECT_TRUE(command.AddAlias("if", "myif"));
  EXPECT_TRUE(command.AddAlias("value", "text"));
  EXPECT_EQ(TakeOutput(), "");
  EXPECT_EQ(command.FindAliasId("show"), 155);
  EXPECT_EQ(command.FindCommandId("show"), CmdInvalid);

  // Setup phase: setup commands first, then aliases of setup commands only.
  EXPECT_EQ(command.GetCommandId("myif"), cmd::kIf);
  EXPECT_EQ(command.GetCommandId("text"), cmd::kValue);
  EXPECT_EQ(command.GetParamCount(), 0u);
  EXPECT_EQ(command.GetCommandId("show"), cmd::kCalc);
  EXPECT_EQ(command.GetParamCount(), 1u);

  // Main phase: built-in names win over aliases.
  command.DeleteSetupCommands();
  command.ClearParameters();
  EXPECT_EQ(command.GetCommandId("show"), 155);
  EXPECT_EQ(command.GetCommandId("myif"), cmd::kIf);
  EXPECT_EQ(command.GetCommandId("text"), cmd::kText);
  EXPECT_EQ(command.GetParamCount(), 0u);

  // Aliases outlive a rebuild of the tables.
  command.InitCommandTable();
  EXPECT_EQ(command.GetCommandId("myif"), cmd::kIf);
}

TEST_F(KCCommandTest, AliasDefinitionEdgeCases) {
  command.InitCommandTable();
  command.DeleteSetupCommands();
  ASSERT_TRUE(command.AddAlias("layer_show", "show"));

  // A name that is already an alias: warning, success, no change, even when
  // the new target would be refused.
  EXPECT_TRUE(command.AddAlias("layer_show", "show"));
  EXPECT_TRUE(command.AddAlias("nosuchcommand", "show"));
  EXPECT_EQ(TakeOutput(),
            "警告 : コマンド \"show\" は既に定義されています\n"
            "警告 : コマンド \"show\" は既に定義されています\n");
  EXPECT_EQ(sys.log.warningCount, 2);
  EXPECT_EQ(command.GetCommandId("show"), 155);

  // The target already has an alias: the new one is dropped silently.
  EXPECT_TRUE(command.AddAlias("layer_show", "show2"));
  EXPECT_EQ(TakeOutput(), "");
  EXPECT_EQ(command.GetCommandId("show2"), CmdInvalid);
  // ... and so it can still be defined for another command.
  EXPECT_TRUE(command.AddAlias("layer_hide", "show2"));
  EXPECT_EQ(command.GetCommandId("show2"), 156);

  // Targets that are no built-in command: an unknown word, an alias, an
  // internal code.
  EXPECT_FALSE(command.AddAlias("nosuchcommand", "x"));
  EXPECT_FALSE(command.AddAlias("show", "text2"));
  EXPECT_FALSE(command.AddAliasId(CmdDone, "y"));
  EXPECT_FALSE(command.AddAliasId(CmdLabel, "y"));
  EXPECT_FALSE(command.AddAliasId(CmdEndOfFile, "y"));
  EXPECT_FALSE(command.AddAliasId(-1, "y"));
  std::string expected;
  for (int i = 0; i < 6; ++i) expected += "エラー : このコマンドは設定できません\n";
  EXPECT_EQ(TakeOutput(), expected);
  EXPECT_EQ(sys.log.errorsSinceLimit, 6);
  EXPECT_EQ(command.GetCommandId("x"), CmdInvalid);
  EXPECT_EQ(command.GetCommandId("y"), CmdInvalid);
}

}  // namespace
}  // namespace kv
