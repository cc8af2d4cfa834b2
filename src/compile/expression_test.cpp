#include "test_support/compile_test_util.h"
#include "context/operators.h"

namespace kv::testing {
namespace {

class ExpressionTest : public CompileTest {
 protected:
  // Compiles one parameter in full mode and returns the bytes written.
  std::string Compile(CommandParameter parameter) {
    Statement({parameter});
    object.contents.clear();
    object.position = 0;
    ok = funcs.Condition(nullptr, 0, &items);
    return Bytes();
  }
  // Expected bytes of a full-mode expression: count, then the items.
  static std::string Expr(std::initializer_list<std::string> entries) {
    std::string out = Ch(static_cast<uint8_t>(entries.size()));
    for (const std::string& e : entries) out += e;
    return out;
  }
  bool ok = false;
  uint32_t items = 0;
};

// Operator codes.
const std::string kAssign = OpItem(13), kPlus = OpItem(6), kMinus = OpItem(7), kTimes = OpItem(8),
                  kAt = OpItem(16), kGreaterEqual = OpItem(3), kNotEqual = OpItem(1),
                  kAnd = OpItem(15);

TEST_F(ExpressionTest, PrecedenceAndAssociativity) {
  EXPECT_EQ(Compile({N(1), Op("+"), N(2), Op("*"), N(3)}),
            Expr({Num(1), Num(2), Num(3), kTimes, kPlus}));
  EXPECT_EQ(items, 5u);
  EXPECT_EQ(Compile({Op("("), N(1), Op("+"), N(2), Op(")"), Op("*"), N(3)}),
            Expr({Num(1), Num(2), kPlus, Num(3), kTimes}));
  EXPECT_EQ(Compile({Op("["), N(1), Op("+"), N(2), Op("}"), Op("*"), N(3)}),
            Expr({Num(1), Num(2), kPlus, Num(3), kTimes}));
  EXPECT_EQ(Compile({W("a"), Op("="), W("b"), Op("="), W("c")}),
            Expr({Var("a"), Var("b"), Var("c"), kAssign, kAssign}));
  EXPECT_EQ(Compile({W("a"), Op("-"), W("b"), Op("-"), W("c")}),
            Expr({Var("a"), Var("b"), kMinus, Var("c"), kMinus}));
  EXPECT_EQ(Compile({W("x"), Op(">="), N(1), Op("&&"), W("y"), Op("#"), N(2)}),
            Expr({Var("x"), Num(1), kGreaterEqual, Var("y"), Num(2), kNotEqual, kAnd}));
  // a = b + 2 * c, byte for byte.
  EXPECT_EQ(Compile({W("a"), Op("="), W("b"), Op("+"), N(2), Op("*"), W("c")}),
            kv::Bytes("04 07 20 01000000 61 20 01000000 62 10 0000000000000040"
                "20 01000000 63 04 08 04 06 04 0D"));
  EXPECT_TRUE(ok);
  EXPECT_EQ(Console(), "");
}

TEST_F(ExpressionTest, EveryOperatorHasItsCode) {
  // The compiler reads each spelling of the operator table as its row.
  for (size_t code = 0; code < kOperatorCount; ++code) {
    const std::string spelling(kOperators[code].spelling);
    EXPECT_EQ(Compile({W("a"), Op(spelling), W("b")}),
              Expr({Var("a"), Var("b"), OpItem(static_cast<uint8_t>(code))}))
        << spelling;
  }
}

TEST_F(ExpressionTest, SignsAndJuxtaposition) {
  EXPECT_EQ(Compile({Op("-"), N(5)}), Expr({Num(-5)}));
  EXPECT_EQ(Compile({Op("-"), W("x")}), Expr({Num(0), Var("x"), kMinus}));
  EXPECT_EQ(Compile({Op("+"), W("x")}), Expr({Num(0), Var("x"), kPlus}));
  EXPECT_EQ(Compile({Op("-"), Op("("), W("a"), Op("+"), W("b"), Op(")")}),
            Expr({Num(-1), Var("a"), Var("b"), kPlus, kTimes}));
  EXPECT_EQ(Compile({N(2), W("x")}), Expr({Num(2), Var("x"), kTimes}));
  EXPECT_EQ(Compile({N(2), Op("("), W("x"), Op(")")}), Expr({Num(2), Var("x"), kTimes}));
  // Each element is judged by itself: the + after a juxtaposition adds.
  EXPECT_EQ(Compile({N(2), W("x"), Op("+"), N(1)}),
            Expr({Num(2), Var("x"), kTimes, Num(1), kPlus}));
  EXPECT_EQ(Compile({W("a"), Op("-"), Op("-"), N(1)}), Expr({Var("a"), Num(-1), kMinus}));
  // Strings and labels are string items.
  EXPECT_EQ(Compile({S("hi"), Op("+"), L("lbl")}), Expr({Str("hi"), Str("lbl"), kPlus}));
  EXPECT_EQ(Console(), "");
}

TEST_F(ExpressionTest, SyntaxErrorsWriteNothing) {
  struct Case {
    CommandParameter parameter;
    const char* message;
  } cases[] = {
      {{Op("-"), S("s")}, "エラー : 文法が間違っています\n"},
      {{W("a"), Op("+")}, "エラー : 文法が間違っています\n"},
      {{W("a"), Op("@")}, "エラー : 文法が間違っています\n"},
      {{Op("*"), W("a")}, "エラー : 文法が間違っています\n"},
      {{W("a"), Op(")")}, "エラー : \")\" 文法が間違っています\n"},
      {{Op("("), W("a"), Op("+"), W("b")}, "エラー : ) がありません\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Compile(c.parameter), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(Console(), c.message);
  }
}

TEST_F(ExpressionTest, InternalFailures) {
  EXPECT_EQ(Compile({}), "");
  EXPECT_EQ(Console(), "内部エラー : Condition(1) 要素数取得に失敗\n"
                       "備考 : 1 番目のパラメータが空です (\",\" の前か後ろに値がありません)\n");
  CommandElement odd{0x01, 0, "?", 0};
  EXPECT_EQ(Compile({odd}), "");
  EXPECT_EQ(Console(), "内部エラー : Monomial(2) 不明な要素\n");
  // A failed write leaves the entries already written.
  KCFile closed(fs);
  Statement({{W("a")}});
  sys.script.currentObject = &closed;
  EXPECT_FALSE(funcs.Condition(nullptr, 0, nullptr));
  EXPECT_EQ(Console(),
            "内部エラー : KCFuncSet::OutChar(2) QueueOut(1) char データの出力に失敗\n"
            "内部エラー : Condition(3) キュー出力に失敗\n");
}

TEST_F(ExpressionTest, AtInFullAndPartialMode) {
  EXPECT_EQ(Compile({W("a"), Op("@"), W("b")}), Expr({Var("a"), Var("b"), kAt}));

  Statement({{W("a"), Op("@"), W("b")}});
  object.contents.clear();
  object.position = 0;
  uint32_t start = 0;
  EXPECT_TRUE(funcs.Condition(&start, 0, &items));
  EXPECT_EQ(Bytes(), Var("a") + kAt);  // no count in partial mode
  EXPECT_EQ(start, 2u);
  EXPECT_EQ(items, 2u);
  EXPECT_TRUE(funcs.Condition(&start, 0, &items));
  EXPECT_EQ(start, 3u);
  EXPECT_EQ(items, 1u);
  EXPECT_EQ(Bytes(), Var("a") + kAt + Var("b"));
}

TEST_F(ExpressionTest, BracketNestingIsLimited) {
  auto nested = [](uint32_t depth) {
    CommandParameter p(depth, Op("("));
    p.push_back(W("x"));
    p.insert(p.end(), depth, Op(")"));
    return p;
  };
  EXPECT_EQ(Compile(nested(kMaxBracketDepth)), Expr({Var("x")}));
  EXPECT_EQ(Compile(nested(kMaxBracketDepth + 1)), "");
  EXPECT_EQ(Console(), "エラー : 文法が間違っています\n");
  // Far deeper than any stack could take: one error, no crash.
  EXPECT_EQ(Compile(nested(100000)), "");
  EXPECT_EQ(Compile(CommandParameter(100000, Op("("))), "");
  EXPECT_EQ(Console(), "エラー : 文法が間違っています\nエラー : 文法が間違っています\n");
  // Signs before brackets nest the same way.
  CommandParameter signs;
  for (int i = 0; i < 100000; ++i) {
    signs.push_back(Op("-"));
    signs.push_back(Op("("));
  }
  EXPECT_EQ(Compile(signs), "");
  EXPECT_EQ(Console(), "エラー : 文法が間違っています\n");
}

TEST_F(ExpressionTest, ItemCountIsOneByte) {
  // 128 operands and 127 operators: 255 items fit.
  CommandParameter sum{N(1)};
  for (int i = 0; i < 127; ++i) {
    sum.push_back(Op("+"));
    sum.push_back(N(1));
  }
  EXPECT_EQ(Compile(sum).substr(0, 2), Ch(255));
  EXPECT_EQ(items, 255u);
  sum.push_back(Op("+"));
  sum.push_back(N(1));
  EXPECT_EQ(Compile(sum), "");
  EXPECT_EQ(Console(), "エラー : パラメータの項目数が 255 を超えています\n");
}

TEST_F(ExpressionTest, LongFlatExpressionsDoNotRecursePerElement) {
  CommandParameter chain{W("a")};
  CommandParameter sum{W("a")};
  for (int i = 0; i < 200000; ++i) {
    chain.push_back(Op("="));
    chain.push_back(W("a"));
    sum.push_back(Op("+"));
    sum.push_back(W("a"));
  }
  EXPECT_EQ(Compile(chain), "");
  EXPECT_EQ(Compile(sum), "");
  EXPECT_EQ(Console(), "エラー : パラメータの項目数が 255 を超えています\n"
                       "エラー : パラメータの項目数が 255 を超えています\n");
}

TEST_F(ExpressionTest, ScriptStatements) {
  ASSERT_TRUE(RunScript("x = 2 x + 1;\ny = -(a + b);\n"));
  EXPECT_EQ(Bytes(), Cmd(cmd::kCalc) + Ch(1) +
                         Expr({Var("x"), Num(2), Var("x"), kTimes, Num(1), kPlus, kAssign}) +
                         Cmd(cmd::kCalc) + Ch(1) +
                         Expr({Var("y"), Num(-1), Var("a"), Var("b"), kPlus, kTimes, kAssign}) +
                         Cmd(cmd::kEnd) + Ch(0));
  EXPECT_EQ(Console(), "");
}

TEST_F(ExpressionTest, DeeplyNestedScriptBrackets) {
  const std::string open(100000, '(');
  const std::string close(100000, ')');
  EXPECT_FALSE(RunScript("x = " + open + "1" + close + ";\n"));
  EXPECT_EQ(Console(), "エラー : /game/main.txt 1 行目 文法が間違っています\n"
                       "備考 : /game/main.txt 1 行目 問題の字句は \"(\" (261 桁目) です\n");
  EXPECT_EQ(Bytes(), Cmd(cmd::kCalc) + Ch(1) + Cmd(cmd::kEnd) + Ch(0));
}

}  // namespace
}  // namespace kv::testing
