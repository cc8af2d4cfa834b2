// The operators of the expression language: how each is spelt in a script,
// the code that stands for it in compiled code, and how tightly it binds.
// The expression compiler parses by these levels, and kvdump prints compiled
// expressions back with them; the codes are stored in script objects and may
// never be renumbered.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace kv {

struct OperatorInfo {
  std::string_view spelling;
  // 1 binds loosest (assignment), 9 tightest ('@'). Level 1 groups to the
  // right (a = b = c is a = (b = c)), every other level to the left.
  int level;
};

inline constexpr int kAssignmentLevel = 1;
inline constexpr int kMultiplicativeLevel = 8;  // also an implicit '*': 2 (x + 1), 2 x
inline constexpr int kTightestLevel = 9;

// ORDER: the position of a row is the operator code written into compiled
// code (an item 04 NN).
inline constexpr std::array<OperatorInfo, 17> kOperators = {{
    {"==", 6},
    {"#", 6},
    {">", 6},
    {">=", 6},
    {"<", 6},
    {"<=", 6},
    {"+", 7},
    {"-", 7},
    {"*", 8},
    {"/", 8},
    {"%", 8},
    {"|", 4},
    {"&", 5},
    {"=", 1},
    {"||", 2},
    {"&&", 3},
    {"@", 9},
}};
inline constexpr size_t kOperatorCount = kOperators.size();

// Codes the compiler writes by name.
inline constexpr uint8_t kOperatorPlus = 6;
inline constexpr uint8_t kOperatorMinus = 7;
inline constexpr uint8_t kOperatorTimes = 8;
inline constexpr uint8_t kOperatorAssign = 13;
inline constexpr uint8_t kOperatorAt = 16;  // also ends a piece of a declaration

inline constexpr bool RightAssociative(int level) { return level == kAssignmentLevel; }

// The operator an element of a script stands for, judged as the compiler
// judges it: by its first character, and by its second where a spelling of
// two characters begins with the first ("==" but "=" for "=<"). -1 when the
// first character begins no operator.
constexpr int OperatorCodeOf(std::string_view text) {
  if (text.empty()) return -1;
  int single = -1;
  for (size_t code = 0; code < kOperatorCount; ++code) {
    const std::string_view spelling = kOperators[code].spelling;
    if (spelling[0] != text[0]) continue;
    if (spelling.size() == 1) {
      single = static_cast<int>(code);
    } else if (text.size() > 1 && text[1] == spelling[1]) {
      return static_cast<int>(code);
    }
  }
  return single;
}

static_assert(kOperators[kOperatorPlus].spelling == "+" &&
              kOperators[kOperatorMinus].spelling == "-" &&
              kOperators[kOperatorTimes].spelling == "*" &&
              kOperators[kOperatorAssign].spelling == "=" &&
              kOperators[kOperatorAt].spelling == "@");
static_assert(kOperators[kOperatorAssign].level == kAssignmentLevel &&
              kOperators[kOperatorTimes].level == kMultiplicativeLevel &&
              kOperators[kOperatorAt].level == kTightestLevel);

}  // namespace kv
