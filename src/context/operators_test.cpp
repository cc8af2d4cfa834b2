#include "context/operators.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace kv {
namespace {

TEST(OperatorTable, EverySpellingNamesItsOwnRow) {
  std::set<std::string_view> spellings;
  for (size_t code = 0; code < kOperatorCount; ++code) {
    const OperatorInfo& op = kOperators[code];
    EXPECT_TRUE(spellings.insert(op.spelling).second) << op.spelling;
    EXPECT_EQ(static_cast<int>(code), OperatorCodeOf(op.spelling)) << op.spelling;
    EXPECT_GE(op.level, kAssignmentLevel);
    EXPECT_LE(op.level, kTightestLevel);
  }
}

TEST(OperatorTable, ElementsAreJudgedByTheirFirstTwoCharacters) {
  EXPECT_EQ(kOperatorAssign, OperatorCodeOf("=<")) << "= followed by something else";
  EXPECT_EQ(OperatorCodeOf("<"), OperatorCodeOf("<>"));
  EXPECT_EQ(OperatorCodeOf("&&"), OperatorCodeOf("&&&"));
  EXPECT_EQ(-1, OperatorCodeOf(""));
  EXPECT_EQ(-1, OperatorCodeOf("x"));
  EXPECT_EQ(-1, OperatorCodeOf("("));
  EXPECT_EQ(-1, OperatorCodeOf("!"));
}

}  // namespace
}  // namespace kv
