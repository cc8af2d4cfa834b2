#include "kvdump/decompiler.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <span>
#include <unordered_map>
#include <unordered_set>

#include "context/object_format.h"
#include "context/operators.h"
#include "context/pell_file.h"
#include "kvdump/disassembler.h"
#include "kvdump/infix.h"
#include "language/command_table.h"
#include "source/numbers.h"
#include "source/tokenizer.h"

namespace kv::kvdump {
namespace {

constexpr std::string_view kMainScriptName = "main.txt";
constexpr size_t kNone = static_cast<size_t>(-1);

// Blocks are indented by two spaces a level, down to this level: however
// deep blocks nest, a line stays short.
constexpr int kMaxIndent = 32;

// Statements whose handlers write other commands (jumps) or nothing at all:
// their ids never stand in compiled code.
bool NeverWritten(int32_t id) {
  switch (id) {
    case cmd::kElseIf:
    case cmd::kElse:
    case cmd::kEndIf:
    case cmd::kLoop:
    case cmd::kLoopExit:
    case cmd::kLoopEnd:
    case cmd::kFunctionDeclaration:
    case cmd::kFunctionExit:
    case cmd::kNewCommand:
    case cmd::kVoid:
    case cmd::kVoidEnd:
    case cmd::kClearNewCommand:
    case cmd::kDebugErrorIgnore:
    case cmd::kDebugErrorStop:
    case cmd::kDebugMessage:
    case cmd::kDebugOnly:
    case cmd::kDebugOnlyEnd:
    case cmd::kReleaseOnly:
    case cmd::kReleaseOnlyEnd:
      return true;
    default:
      return false;
  }
}

bool IsDeclaration(int32_t id) { return id >= cmd::kValue && id <= cmd::kLocalString; }

// The names of the vocabulary, built once from the command table.
bool IsCommandName(std::string_view word) {
  static const auto* const names = [] {
    auto* set = new std::unordered_set<std::string_view>;
    for (const CommandInfo& info : kCommands) set->insert(info.name);
    return set;
  }();
  return names->count(word) != 0;
}

bool IsSetupCommand(int32_t id) {
  return std::binary_search(kSetupCommandIds.begin(), kSetupCommandIds.end(), id);
}

// Whether a statement of `id` may have `n` parameters (as the generic
// encoder checks them: no upper limit in the table means 255).
bool CountFits(int32_t id, size_t n) {
  const ParamCount count = kCommands[static_cast<size_t>(id)].count;
  const size_t max = count.min != 0 && count.max == 0 ? 255 : static_cast<size_t>(count.max);
  return n >= static_cast<size_t>(count.min) && n <= max;
}

// A number as a script spells it: a literal, with a sign in front where the
// value needs one (the compiler folds a sign into the literal after it).
bool NumberText(double value, std::string* text) {
  std::string literal;
  if (std::signbit(value)) {
    if (NumberLiteral(-value, &literal)) {
      *text = "-" + literal;
      return true;
    }
    return NumberLiteral(value, text);
  }
  if (NumberLiteral(value, text)) return true;
  if (!NumberLiteral(-value, &literal)) return false;
  *text = "-" + literal;
  return true;
}

// The text of a name element (a function's name): a word when it reads back
// as one, else a string literal, whose text is the name all the same.
bool NameText(std::string_view name, std::string* text) {
  if (ReadsAsWord(name)) {
    *text = std::string(name);
    return true;
  }
  return StringLiteral(name, text);
}

// What the blocks need of a command. Its parameters are decoded again
// (DecodeCommandAt) when its statement is written, so a script of a million
// commands costs this much for each, not its items.
struct Command {
  size_t at;
  uint32_t index;
  int32_t id;
  size_t parameters;
  bool jump;       // an if or a goto with its jump distance
  int64_t target;  // the entry the jump lands on
};

struct ScriptDefinitions {
  std::vector<const Definition*> labels;                      // in the order they are recorded
  std::unordered_map<uint32_t, const Definition*> functions;  // by position
};

// The entries where the innermost enclosing loop and function end: a
// loop_exit lands after the loop's backward jump, a function_exit on the
// function_end command (-1: no such block).
struct Exits {
  int64_t loop_end = -1;
  int64_t function_end = -1;
};

class ScriptDecompiler {
 public:
  ScriptDecompiler(size_t number, const ScriptDefinitions& definitions, bool* setup_phase,
                   Problem* problem)
      : number_(number), definitions_(definitions), setup_phase_(setup_phase), problem_(problem) {}

  bool Run(std::string_view image, const HeaderEntry& script, std::string* text) {
    image_ = image;
    script_ = &script;
    ScriptCode code;
    auto keep = [this](const CodeCommand& c) {
      const bool jump = c.IsJump();
      commands_.push_back({c.at, c.index, c.id, c.parameters.size(), jump,
                           jump ? static_cast<int64_t>(c.NextIndex()) + c.JumpDistance() : 0});
      return true;
    };
    if (!DecodeCode(image, script, keep, &code, problem_)) return false;
    if (code.ends_with_error_marker) {
      return FailAt(script.offset + script.length, code.end_index,
                    "the script was abandoned at the error limit (it ends with the \"error\" "
                    "marker)");
    }
    // The end command the converter writes when a script ends; an end
    // statement written in the script comes before it.
    if (commands_.empty() || commands_.back().id != cmd::kEnd ||
        commands_.back().parameters != 0) {
      return FailAt(script.offset + script.length, code.end_index,
                    "the script does not end with the end command");
    }
    if (!MatchFunctions()) return false;
    for (size_t i = 0; i < commands_.size(); ++i) {
      if (IsJumpOf(commands_[i], cmd::kIf)) conditions_to_[Target(commands_[i])].push_back(i);
    }
    const size_t last = commands_.size() - 1;
    if (!Block(0, last) || !Labels(commands_[last].index, 0)) return false;
    if (next_label_ != definitions_.labels.size()) {
      const Definition& d = *definitions_.labels[next_label_];
      return FailAt(d.at, d.position,
                    "label \"" + PathText(d.name) + "\" names an entry where no statement begins");
    }
    if (functions_named_ != definitions_.functions.size()) {
      // A record at an entry that follows no function command.
      for (const auto& [position, d] : definitions_.functions) {
        const size_t p = position >= 2 ? PositionOf(position - 2) : kNone;
        if (p == kNone || commands_[p].id != cmd::kFunction) {
          return FailAt(d->at, position,
                        "function \"" + PathText(d->name) +
                            "\" names an entry that does not follow a function command");
        }
      }
    }
    *text = std::move(out_);
    return true;
  }

 private:
  bool FailAt(size_t offset, uint32_t entry, const std::string& message) {
    return ProblemAt(
        problem_, offset,
        "script " + std::to_string(number_) + ", entry " + std::to_string(entry) + ": " + message);
  }
  bool Fail(const Command& command, const std::string& message) {
    return FailAt(command.at, command.index, message);
  }
  bool Fail(const CodeCommand& command, const std::string& message) {
    return FailAt(command.at, command.index, message);
  }

  // The command at position i with its parameters.
  bool Decoded(size_t i, CodeCommand* command) {
    return DecodeCommandAt(image_, *script_, commands_[i].at, commands_[i].index, command,
                           problem_);
  }

  void Line(int depth, std::string_view text) {
    out_.append(static_cast<size_t>(std::min(depth, kMaxIndent)) * 2, ' ');
    out_ += text;
    out_ += '\n';
  }

  // The position in commands_ of the command at entry `index`; kNone when no
  // command begins there.
  size_t PositionOf(int64_t index) const {
    const auto found = std::lower_bound(
        commands_.begin(), commands_.end(), index,
        [](const Command& c, int64_t i) { return static_cast<int64_t>(c.index) < i; });
    if (found == commands_.end() || static_cast<int64_t>(found->index) != index) return kNone;
    return static_cast<size_t>(found - commands_.begin());
  }

  static bool IsJumpOf(const Command& c, int32_t id) { return c.id == id && c.jump; }
  static int64_t Target(const Command& c) { return c.target; }

  // Pairs every function command with its function_end: they nest.
  bool MatchFunctions() {
    match_.assign(commands_.size(), kNone);
    std::vector<size_t> open;
    for (size_t i = 0; i < commands_.size(); ++i) {
      const Command& c = commands_[i];
      if (c.id == cmd::kFunction || c.id == cmd::kFunctionEnd) {
        if (c.parameters != 0) return Fail(c, "a function command with parameters");
        if (c.id == cmd::kFunction) {
          open.push_back(i);
        } else if (open.empty()) {
          return Fail(c, "a function_end without its function");
        } else {
          match_[open.back()] = i;
          open.pop_back();
        }
      }
    }
    if (!open.empty()) return Fail(commands_[open.back()], "a function without its function_end");
    return true;
  }

  bool LabelAt(uint32_t index) const {
    return next_label_ < definitions_.labels.size() &&
           definitions_.labels[next_label_]->position == index;
  }

  // Prints the labels at entry `index`; fails for a label at an earlier
  // entry still waiting, which names no place a statement begins.
  bool Labels(uint32_t index, int depth) {
    const std::vector<const Definition*>& labels = definitions_.labels;
    for (; next_label_ < labels.size() && labels[next_label_]->position <= index; ++next_label_) {
      const Definition& d = *labels[next_label_];
      if (d.position < index) {
        return FailAt(
            d.at, d.position,
            "label \"" + PathText(d.name) + "\" names an entry where no statement begins");
      }
      if (!ReadsAsWord(d.name)) {
        return FailAt(d.at, d.position,
                      "label \"" + PathText(d.name) + "\" is no name a script can define");
      }
      Line(depth, std::string(d.name) + ":");
    }
    return true;
  }

  // What ends a block, and what follows when it has ended.
  enum class Closer {
    kScript,      // the script's end
    kLoop,        // loop_end: the backward jump at `last`
    kFunction,    // function_end: the command at `last`
    kBranch,      // a branch of an if chain left by the jump at `last`
    kLastBranch,  // the last branch of an if chain without else
    kElse,        // the else branch
  };

  // A block being written: the statements of commands [position, last).
  struct Frame {
    size_t position;
    size_t last;
    Exits exits;
    int depth;
    Closer closer;
    // kBranch: where the next branch begins, and the entry the chain ends at.
    size_t next_branch = 0;
    int64_t chain_end = -1;
  };

  // The statements of commands [first, last), blocks within blocks taken
  // from a stack of their own rather than the program's, however deep they
  // nest.
  bool Block(size_t first, size_t last) {
    frames_.push_back(Frame{first, last, Exits{}, 0, Closer::kScript});
    while (!frames_.empty()) {
      Frame& f = frames_.back();
      if (f.position < f.last) {
        const size_t i = f.position;
        const Command& c = commands_[i];
        if (!Labels(c.index, f.depth)) return false;
        bool ok;
        if (c.id == cmd::kIf) {
          ok = Conditional(i);
        } else if (c.id == CmdSysGoto) {
          ok = Exit(c, f.exits, f.depth);
          ++f.position;
        } else if (c.id == cmd::kFunction) {
          ok = Function(i);
        } else {
          ok = Simple(i, f.depth);
          ++f.position;
        }
        if (!ok) return false;
        continue;
      }
      const Frame done = f;
      frames_.pop_back();
      if (!Close(done)) return false;
    }
    return true;
  }

  bool Close(const Frame& done) {
    const int outer = done.depth - 1;
    switch (done.closer) {
      case Closer::kScript:
        return true;
      case Closer::kLoop:
        if (!Labels(commands_[done.last].index, done.depth)) return false;
        Line(outer, "loop_end;");
        return true;
      case Closer::kFunction:
        if (!Labels(commands_[done.last].index, done.depth)) return false;
        Line(outer, "function_end;");
        return true;
      case Closer::kLastBranch:
      case Closer::kElse:
        Line(outer, "endif;");
        return true;
      case Closer::kBranch: {
        if (!Labels(commands_[done.last].index, done.depth)) return false;
        // An if that fills the else branch compiles as an elseif, unless a
        // label stands before it: an elseif has no place for one there.
        const size_t end = PositionOf(done.chain_end);
        if (done.next_branch < end && ElseIfShaped(done.next_branch, done.chain_end) &&
            !LabelAt(commands_[done.next_branch].index)) {
          std::string condition;
          if (!Condition(done.next_branch, &condition)) return false;
          Line(outer, "elseif " + condition + ";");
          return Branch(done.next_branch, done.chain_end, done.exits, outer, nullptr);
        }
        Line(outer, "else;");
        frames_.push_back(Frame{done.next_branch, end, done.exits, done.depth, Closer::kElse});
        return true;
      }
    }
    return false;
  }

  // A loop: its conditional jump lands right after a backward jump to it.
  bool IsLoopAt(size_t k) const {
    const Command& c = commands_[k];
    if (!IsJumpOf(c, cmd::kIf)) return false;
    const size_t t = PositionOf(Target(c));
    return t != kNone && t >= k + 2 && IsJumpOf(commands_[t - 1], CmdSysGoto) &&
           Target(commands_[t - 1]) == c.index;
  }

  // Whether the conditional jump at position k can be an elseif of a chain
  // that ends at entry `chain_end`: it lands on the chain's end, or right
  // after a jump to it (the next elseif or else).
  bool ElseIfShaped(size_t k, int64_t chain_end) const {
    const Command& c = commands_[k];
    if (!IsJumpOf(c, cmd::kIf) || IsLoopAt(k)) return false;
    const int64_t t = Target(c);
    if (t <= c.index || t > chain_end) return false;
    if (t == chain_end) return true;
    const size_t p = PositionOf(t);
    return p != kNone && p >= k + 2 && IsJumpOf(commands_[p - 1], CmdSysGoto) &&
           Target(commands_[p - 1]) == chain_end && !EndsInnerChain(k, p - 1, t);
  }

  // Whether the jump at position g, which ends the branch after the
  // conditional jump at k and lands on entry t, ends an if chain within that
  // branch: the last branch of such a chain ends with it, so the jump of
  // that branch's condition, between k and g, lands on t as well. (A loop
  // ends with a backward jump, a function with its function_end.)
  bool EndsInnerChain(size_t k, size_t g, int64_t t) const {
    const auto found = conditions_to_.find(t);
    if (found == conditions_to_.end()) return false;
    const std::vector<size_t>& from = found->second;
    const auto after = std::upper_bound(from.begin(), from.end(), k);
    return after != from.end() && *after < g;
  }

  bool Condition(size_t i, std::string* text) {
    if (!IsJumpOf(commands_[i], cmd::kIf)) {
      return Fail(commands_[i], "an if command that is no conditional jump");
    }
    CodeCommand c;
    if (!Decoded(i, &c)) return false;
    Infix infix;
    if (!Expression(c, c.parameters[0], &infix)) return false;
    *text = std::move(infix.text);
    return true;
  }

  // A loop or an if chain (if / elseif / else / endif), from the conditional
  // jump at position i of the innermost block.
  bool Conditional(size_t i) {
    Frame& f = frames_.back();
    const Exits exits = f.exits;
    const int depth = f.depth;
    const size_t last = f.last;
    std::string condition;
    if (!Condition(i, &condition)) return false;
    if (IsLoopAt(i)) {
      const Command& top = commands_[i];
      const size_t end = PositionOf(Target(top));
      if (end > last) return Fail(top, "the loop reaches past the block it stands in");
      Line(depth, "loop " + condition + ";");
      f.position = end;
      const Exits inner{static_cast<int64_t>(commands_[end].index), exits.function_end};
      frames_.push_back(Frame{i + 1, end - 1, inner, depth + 1, Closer::kLoop});
      return true;
    }
    Line(depth, "if " + condition + ";");
    size_t chain_end_position = 0;
    if (!Branch(i, -1, exits, depth, &chain_end_position)) return false;
    frames_[frames_.size() - 2].position = chain_end_position;
    return true;
  }

  // The branch of an if chain after the conditional jump at position k. The
  // jumps fix the blocks: each condition's jump lands on the next branch
  // (right after the jump that leaves the branch before it) or on the end of
  // the chain, and every branch but the last leaves the chain with a jump to
  // its end. `chain_end` is that end when an earlier branch has told it
  // (else -1); the first branch stores where the chain ends in *end_position.
  bool Branch(size_t k, int64_t chain_end, const Exits& exits, int depth, size_t* end_position) {
    const size_t last = frames_.back().last;
    const Command& jump = commands_[k];
    const int64_t t = Target(jump);
    const size_t branch_end = t > jump.index ? PositionOf(t) : kNone;
    if (branch_end == kNone || branch_end > last) {
      return Fail(jump, "the conditional jump lands on entry " + std::to_string(t) +
                            ", where no branch of its block ends");
    }
    // A jump that ends the branch and lands at or after the next one, unless
    // it ends an if chain within the branch: the jump out of the chain,
    // whose target is its end. It may also be a
    // loop_exit or function_exit ending the branch: a loop ends after the
    // chain within it, so a jump to the loop's end is its loop_exit; where a
    // function_exit compiles alike, the guard clause "if c; function_exit;
    // endif;" reads better than an empty branch with an else.
    bool leaves_chain = false;
    const size_t g = branch_end - 1;
    if (branch_end >= k + 2 && IsJumpOf(commands_[g], CmdSysGoto) && Target(commands_[g]) >= t &&
        !EndsInnerChain(k, g, t)) {
      const int64_t to = Target(commands_[g]);
      if (chain_end >= 0) {
        leaves_chain = to == chain_end;
      } else if (to != exits.loop_end) {
        const size_t to_position = PositionOf(to);
        leaves_chain =
            to_position != kNone && to_position <= last &&
            !(to == exits.function_end && !ElseIfShaped(branch_end, to) && (g == k + 1 || t == to));
      }
    }
    if (!leaves_chain) {
      if (chain_end >= 0 && t != chain_end) {
        return Fail(jump, "the conditional jump lands on entry " + std::to_string(t) +
                              ", not on the end of its if chain");
      }
      if (end_position != nullptr) *end_position = branch_end;
      frames_.push_back(Frame{k + 1, branch_end, exits, depth + 1, Closer::kLastBranch});
      return true;
    }
    const int64_t to = Target(commands_[g]);
    if (end_position != nullptr) *end_position = PositionOf(to);
    Frame branch{k + 1, g, exits, depth + 1, Closer::kBranch};
    branch.next_branch = branch_end;
    branch.chain_end = to;
    frames_.push_back(branch);
    return true;
  }

  bool Exit(const Command& c, const Exits& exits, int depth) {
    if (!c.jump) return Fail(c, "a jump command without its jump distance");
    const int64_t to = Target(c);
    if (to == exits.loop_end) {
      Line(depth, "loop_exit;");
    } else if (to == exits.function_end) {
      Line(depth, "function_exit;");
    } else {
      return Fail(c, "the jump lands on entry " + std::to_string(to) +
                         ", where no enclosing loop or function ends");
    }
    return true;
  }

  bool Function(size_t i) {
    Frame& f = frames_.back();
    const Command& c = commands_[i];
    const size_t end = match_[i];
    if (end >= f.last) return Fail(c, "the function reaches past the block it stands in");
    // The body's first entry names the function. A function defined twice in
    // a script keeps its first record only; the second definition is written
    // with a name the script has defined before, which records nothing.
    const uint32_t body = c.index + 2;
    std::string_view name;
    const auto found = definitions_.functions.find(body);
    if (found != definitions_.functions.end()) {
      name = found->second->name;
      ++functions_named_;
      if (earlier_function_ == nullptr) earlier_function_ = found->second;
    } else if (earlier_function_ != nullptr) {
      name = earlier_function_->name;
    } else {
      return Fail(c, "a function command that no function of its script is recorded at");
    }
    std::string name_text;
    if (!NameText(name, &name_text)) {
      return Fail(c, "the function name \"" + PathText(name) + "\" cannot be written in a script");
    }
    Line(f.depth, "function " + name_text + ";");
    f.position = end + 1;
    const Exits inner{f.exits.loop_end, static_cast<int64_t>(commands_[end].index)};
    frames_.push_back(Frame{i + 1, end, inner, f.depth + 1, Closer::kFunction});
    return true;
  }

  // An operand item as a script spells it.
  bool Operand(const CodeItem& item, std::string* text) {
    switch (item.specifier) {
      case SpecVariable:
        if (ReadsAsWord(item.text)) {
          *text = std::string(item.text);
          return true;
        }
        why_ = "the variable name \"" + PathText(item.text) + "\" cannot be written in a script";
        return false;
      case SpecString:
        if (StringLiteral(item.text, text)) return true;
        why_ = "the string \"" + PathText(item.text) + "\" cannot be written in a script";
        return false;
      case SpecDouble:
        if (NumberText(item.number, text)) return true;
        char buffer[40];
        std::snprintf(buffer, sizeof buffer, "%.17g", item.number);
        why_ = std::string("no numeric literal reads back as ") + buffer;
        return false;
      default:
        why_ = "an item that is no operand";
        return false;
    }
  }

  bool Infixed(const CodeCommand& c, std::span<const CodeItem> items, Infix* out) {
    why_.clear();
    auto operand = [this](const CodeItem& item, std::string* text) { return Operand(item, text); };
    if (PostfixToInfix(items, operand, out)) return true;
    return Fail(c, why_.empty() ? "a parameter whose items form no expression" : why_);
  }

  // A whole parameter as one expression.
  bool Expression(const CodeCommand& c, const CodeParameter& p, Infix* out) {
    if (p.items.empty())
      return Fail(c, "an empty parameter, which only a declaration can end with");
    return Infixed(c, p.items, out);
  }

  // The text of the element a script reader meets first in `infix`, which
  // decides what the statement is.
  static std::string_view LeadingText(const Infix& infix) {
    if (infix.leading == nullptr) return "(";
    switch (infix.leading->specifier) {
      case SpecVariable:
      case SpecString:
        return infix.leading->text;
      default:
        return std::signbit(infix.leading->number) ? "-" : "";
    }
  }

  bool Parameters(const CodeCommand& c, size_t from, std::string* text) {
    for (size_t p = from; p < c.parameters.size(); ++p) {
      Infix infix;
      if (!Expression(c, c.parameters[p], &infix)) return false;
      if (p > from) *text += ", ";
      *text += infix.text;
    }
    return true;
  }

  bool Declaration(const CodeCommand& c, std::string* line) {
    *line = std::string(kCommands[static_cast<size_t>(c.id)].name);
    for (size_t p = 0; p < c.parameters.size(); ++p) {
      const std::vector<CodeItem>& items = c.parameters[p].items;
      *line += p == 0 ? " " : ", ";
      if (items.empty()) {
        // Only a comma right before the semicolon leaves an empty parameter.
        if (p == 0 || p + 1 != c.parameters.size()) {
          return Fail(c, "an empty declaration parameter that is not the last one");
        }
        continue;
      }
      // The pieces of a parameter, each ended by '@' but the last; within a
      // declaration every '@' ends a piece.
      size_t start = 0;
      int depth = 0;
      for (size_t k = 0; k <= items.size(); ++k) {
        const bool end = k == items.size();
        if (!end && items[k].specifier != SpecChar) {
          ++depth;
          continue;
        }
        if (!end && items[k].byte != kOperatorAt) {
          --depth;
          continue;
        }
        if (depth != 1) return Fail(c, "a declaration parameter whose pieces form no expressions");
        Infix infix;
        if (!Infixed(c, std::span<const CodeItem>(items).subspan(start, k - start), &infix)) {
          return false;
        }
        *line += infix.text;
        if (!end) *line += " @ ";
        start = k + 1;
        depth = 0;
      }
    }
    return true;
  }

  bool Simple(size_t i, int depth) {
    CodeCommand c;
    if (!Decoded(i, &c)) return false;
    std::string line;
    const size_t n = c.parameters.size();
    const bool setup = *setup_phase_;
    if (c.id == cmd::kCalc) {
      if (n != 1) return Fail(c, "a calc command without exactly one parameter");
      Infix infix;
      if (!Expression(c, c.parameters[0], &infix)) return false;
      // Written bare, the statement is read as calc when its first element
      // names no command and it has more than one element.
      const bool bare = c.parameters[0].items.size() > 1 && !IsCommandName(LeadingText(infix));
      Line(depth, (bare ? "" : "calc ") + infix.text + ";");
      return true;
    }
    if (c.id == CmdImplicitText) {
      if (setup) return Fail(c, "a line of text in the setup phase, which reads it as calc");
      if (!CountFits(cmd::kText, n)) return Fail(c, "a line of text with too many parameters");
      Infix first;
      if (!Expression(c, c.parameters[0], &first)) return false;
      // Its first element must name no command. With one parameter it must be
      // a single element, else the statement would be read as calc: a number
      // is then written without a sign, its digits wrapping to the value.
      if (n == 1) {
        const CodeItem& only = c.parameters[0].items[0];
        if (c.parameters[0].items.size() != 1 ||
            (only.specifier == SpecDouble && !NumberLiteral(only.number, &first.text))) {
          return Fail(c, "a line of text whose only parameter is no single element");
        }
      }
      if (IsCommandName(LeadingText(first))) {
        if (n == 1) return Fail(c, "a line of text that begins with the name of a command");
        first.text = "(" + first.text + ")";
      }
      line = first.text;
      if (n > 1) {
        line += ", ";
        if (!Parameters(c, 1, &line)) return false;
      }
      Line(depth, line + ";");
      return true;
    }
    if (c.id < 0 || c.id >= kCommandCount || NeverWritten(c.id) || c.id == cmd::kIf ||
        c.id == cmd::kFunctionEnd) {
      return Fail(c, "command " + std::to_string(c.id) + " is never written as a statement");
    }
    if (setup && !IsSetupCommand(c.id)) {
      return Fail(c, "command \"" + std::string(kCommands[static_cast<size_t>(c.id)].name) +
                         "\" in the setup phase, which knows only the setup commands");
    }
    if (c.id == cmd::kWindowSize && !setup) {
      return Fail(c, "window_size after the setup phase");
    }
    if (IsDeclaration(c.id)) {
      if (n == 0) return Fail(c, "a declaration without parameters");
      if (!Declaration(c, &line)) return false;
      Line(depth, line + ";");
      return true;
    }
    if (!CountFits(c.id, n)) {
      return Fail(c, "command \"" + std::string(kCommands[static_cast<size_t>(c.id)].name) +
                         "\" with " + std::to_string(n) + " parameters");
    }
    line = std::string(kCommands[static_cast<size_t>(c.id)].name);
    if (n > 0) {
      line += " ";
      if (!Parameters(c, 0, &line)) return false;
    }
    Line(depth, line + ";");
    if (c.id == cmd::kCreateWindow) *setup_phase_ = false;
    return true;
  }

  const size_t number_;
  const ScriptDefinitions& definitions_;
  bool* setup_phase_;
  Problem* problem_;
  std::string_view image_;
  const HeaderEntry* script_ = nullptr;
  std::vector<Command> commands_;
  std::vector<size_t> match_;  // function command -> its function_end
  std::vector<Frame> frames_;
  // Entry -> the positions of the conditional jumps that land on it, ascending.
  std::unordered_map<int64_t, std::vector<size_t>> conditions_to_;
  size_t next_label_ = 0;
  size_t functions_named_ = 0;
  const Definition* earlier_function_ = nullptr;
  std::string why_;
  std::string out_;
};

// Sorts the definitions of one list by script, checking that they stand in
// the order the converter records them: script by script in the order it
// compiles them, each script's by entry, a name once per script.
bool GroupDefinitions(const std::vector<Definition>& list, bool labels,
                      const std::unordered_map<std::string_view, size_t>& entry_of,
                      const std::vector<size_t>& rank, std::vector<ScriptDefinitions>* scripts,
                      Problem* problem) {
  size_t last_rank = 0;
  uint32_t last_position = 0;
  std::vector<std::unordered_set<std::string_view>> names(scripts->size());
  for (size_t i = 0; i < list.size(); ++i) {
    const Definition& d = list[i];
    const std::string which = (labels ? "label " : "function ") + std::to_string(i);
    const auto found = entry_of.find(d.script);
    if (found == entry_of.end()) {
      return ProblemAt(problem, d.at, which + " names a script that the object does not list");
    }
    const size_t entry = found->second;
    if (i > 0 &&
        (rank[entry] < last_rank || (rank[entry] == last_rank && d.position < last_position))) {
      return ProblemAt(problem, d.at,
                       which + " stands out of the order in which the converter records them");
    }
    last_rank = rank[entry];
    last_position = d.position;
    if (!names[entry].insert(d.name).second) {
      return ProblemAt(problem, d.at, which + " is recorded a second time for its script");
    }
    ScriptDefinitions& defs = (*scripts)[entry];
    if (labels) {
      defs.labels.push_back(&d);
    } else if (!defs.functions.emplace(d.position, &d).second) {
      return ProblemAt(problem, d.at, which + " is recorded at the entry of another function");
    }
  }
  return true;
}

}  // namespace

bool StringLiteral(std::string_view text, std::string* literal) {
  if (text.find(kTextModeEnd) != std::string_view::npos) return false;
  literal->clear();
  if (text.empty()) {
    *literal = "\"\"";
    return true;
  }
  for (size_t start = 0; start < text.size();) {
    bool has_double = false, has_single = false;
    size_t end = start;
    for (; end < text.size(); ++end) {
      const char c = text[end];
      if ((c == '"' && has_single) || (c == '\'' && has_double)) break;
      if (end > start) {
        const char before = text[end - 1];
        if (before == '/' && (c == '/' || c == '*')) break;
        if (before == '\r' && c == '\n') break;
      }
      has_double = has_double || c == '"';
      has_single = has_single || c == '\'';
    }
    const char quote = has_double ? '\'' : '"';
    literal->push_back(quote);
    literal->append(text.substr(start, end - start));
    literal->push_back(quote);
    start = end;
  }
  return true;
}

bool DecompileScripts(std::string_view image, const ObjectHeader& header,
                      std::vector<ScriptSource>* scripts, Problem* problem) {
  scripts->clear();
  if (header.kind != ObjectKind::kScript) {
    return ProblemAt(problem, 0, "the object is an archive, which holds no scripts");
  }
  const size_t count = header.entries.size();
  std::unordered_map<std::string_view, size_t> entry_of;
  entry_of.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const auto [found, added] = entry_of.emplace(header.entries[i].name, i);
    if (!added) {
      return ProblemAt(problem, header.entries[i].at,
                       "script " + std::to_string(i) + " has the path of script " +
                           std::to_string(found->second));
    }
  }
  // The converter compiles main.txt of the engine directory first, then the
  // others in ascending byte order of their paths.
  const std::string main_path = std::string(header.directory) + std::string(kMainScriptName);
  const auto main = entry_of.find(main_path);
  if (main == entry_of.end()) {
    return ProblemAt(problem, header.header_end,
                     "the object lists no main.txt in its engine directory \"" +
                         PathText(header.directory) + "\"");
  }
  std::vector<size_t> order(count);
  for (size_t i = 0; i < count; ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    if ((a == main->second) != (b == main->second)) return a == main->second;
    return header.entries[a].name < header.entries[b].name;
  });
  std::vector<size_t> rank(count);
  for (size_t r = 0; r < count; ++r) rank[order[r]] = r;

  std::vector<ScriptDefinitions> definitions(count);
  if (!GroupDefinitions(header.labels, true, entry_of, rank, &definitions, problem) ||
      !GroupDefinitions(header.functions, false, entry_of, rank, &definitions, problem)) {
    return false;
  }

  std::vector<std::string> texts(count);
  bool setup_phase = true;  // until create_window
  for (size_t entry : order) {
    ScriptDecompiler decompiler(entry, definitions[entry], &setup_phase, problem);
    if (!decompiler.Run(image, header.entries[entry], &texts[entry])) return false;
  }
  scripts->reserve(count);
  for (size_t i = 0; i < count; ++i) scripts->push_back({i, std::move(texts[i])});
  return true;
}

}  // namespace kv::kvdump
