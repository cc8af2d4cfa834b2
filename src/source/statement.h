// The statement model the tokenizer fills: a statement is a list of
// parameters, each a sequence of lexical elements.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace kv {

enum ElementKind : uint8_t {
  ElemOperator = 0x02,
  ElemString = 0x04,
  ElemNumber = 0x08,
  ElemLabel = 0x14,  // carries the string bit too: test 0x10 to tell a label
  ElemWord = 0x40,
};

struct CommandElement {
  uint8_t kind = 0;
  // Where the element begins in its source's contents (see SourceText::ColumnAt).
  uint32_t offset = 0;
  std::string text;  // word, label name, operator, or string contents
  double number = 0;
  // Where it ends: one past its last byte (a label's name without its colon;
  // a string's last closing quote).
  uint32_t end = 0;
};

using CommandParameter = std::vector<CommandElement>;

// The parameters of the statement being compiled. Parameters behind the
// statement are emptied ones of earlier statements, kept for their storage,
// so a statement of the usual shape allocates nothing.
class Statement {
 public:
  uint32_t size() const { return count_; }
  CommandParameter& operator[](uint32_t parameter) { return parameters_[parameter]; }
  const CommandParameter& operator[](uint32_t parameter) const { return parameters_[parameter]; }

  void Clear() {
    for (uint32_t i = 0; i < count_; ++i) parameters_[i].clear();
    count_ = 0;
  }
  // An empty parameter at the end of the statement, to be filled in place.
  CommandParameter& AppendEmpty() {
    if (count_ == parameters_.size()) {
      // Most parameters hold a few elements: one allocation instead of several.
      constexpr size_t kUsualElements = 8;
      parameters_.emplace_back().reserve(kUsualElements);
    }
    return parameters_[count_++];
  }
  void DropLast() {
    if (count_ == 0) return;
    parameters_[--count_].clear();
  }
  // The first parameter moves behind the others; the last one moves in front.
  void RotateFrontToBack() {
    std::rotate(parameters_.begin(), parameters_.begin() + 1, parameters_.begin() + count_);
  }
  void RotateBackToFront() {
    std::rotate(parameters_.begin(), parameters_.begin() + count_ - 1, parameters_.begin() + count_);
  }

 private:
  std::vector<CommandParameter> parameters_;
  uint32_t count_ = 0;
};

}  // namespace kv
