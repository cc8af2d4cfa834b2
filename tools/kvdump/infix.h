// Compiled expressions back in infix form: the postfix items of a parameter
// as a script writes them, with brackets only where the operator levels of
// context/operators.h need them. The listing and the decompiler share it;
// each prints the operands its own way.
#pragma once

#include <functional>
#include <span>
#include <string>

#include "kvdump/object_reader.h"

namespace kv::kvdump {

// The text of an operand item (a variable, a string, a number); false when
// the item cannot be written (the reason is the caller's to keep).
using OperandText = std::function<bool(const CodeItem& item, std::string* text)>;

struct Infix {
  std::string text;
  // The operand item the text begins with, or null when it begins with an
  // opening bracket.
  const CodeItem* leading = nullptr;
};

// The infix form of `items`. False when they do not form exactly one
// expression (an operator without its two operands, operands left over, an
// item that is no operand or operator, or no item at all) or when `operand`
// fails.
bool PostfixToInfix(std::span<const CodeItem> items, const OperandText& operand, Infix* out);

}  // namespace kv::kvdump
