#include "kvdump/infix.h"

#include <vector>

#include "context/object_format.h"
#include "context/operators.h"

namespace kv::kvdump {
namespace {

constexpr int kOperandLevel = kTightestLevel + 1;

struct Node {
  std::string text;
  int level = kOperandLevel;
  const CodeItem* leading = nullptr;
};

}  // namespace

bool PostfixToInfix(std::span<const CodeItem> items, const OperandText& operand, Infix* out) {
  std::vector<Node> stack;
  for (const CodeItem& item : items) {
    if (item.specifier != SpecChar) {
      if (item.specifier == SpecLong) return false;
      Node& node = stack.emplace_back();
      if (!operand(item, &node.text)) return false;
      node.leading = &item;
      continue;
    }
    if (item.byte >= kOperatorCount || stack.size() < 2) return false;
    const OperatorInfo& op = kOperators[item.byte];
    Node right = std::move(stack.back());
    stack.pop_back();
    Node& left = stack.back();
    // The compiler parses an operand of a level from the next tighter one,
    // and the right side of a right-grouping operator from its own level: a
    // side at a looser level, or at the same level on the other side, needs
    // brackets.
    const bool right_groups = RightAssociative(op.level);
    const bool bracket_left = left.level < op.level || (right_groups && left.level == op.level);
    const bool bracket_right = right.level < op.level || (!right_groups && right.level == op.level);
    std::string text;
    text.reserve(left.text.size() + right.text.size() + op.spelling.size() + 6);
    if (bracket_left) {
      text += "(";
      text += left.text;
      text += ")";
      left.leading = nullptr;
    } else {
      text += left.text;
    }
    text += " ";
    text += op.spelling;
    text += " ";
    if (bracket_right) {
      text += "(";
      text += right.text;
      text += ")";
    } else {
      text += right.text;
    }
    left.text = std::move(text);
    left.level = op.level;
  }
  if (stack.size() != 1) return false;
  out->text = std::move(stack[0].text);
  out->leading = stack[0].leading;
  return true;
}

}  // namespace kv::kvdump
