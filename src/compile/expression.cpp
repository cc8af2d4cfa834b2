// The expression compiler: parses one parameter of the current statement by
// operator precedence and writes it as a flat postfix sequence of items,
// preceded by their count.
//
// Nine levels of binary operators (context/operators.h), from the loosest
// (assignment, grouping to the right) to the tightest ('@'); an open bracket
// or an operand right after an operand multiplies at the level of '*'.
// Brackets of the three kinds are interchangeable. The levels are climbed
// rather than descended one call each: a call parses an operand and every
// operator of its level or a tighter one that follows, recursing only for the
// right operand of an operator. The recursion is bounded: a flat expression
// never recurses per element (also the right-associative assignment is parsed
// iteratively), and bracket nesting is limited.
#include <algorithm>
#include <array>
#include <bit>
#include <vector>

#include "compile/func_set.h"
#include "context/kc_system.h"
#include "context/operators.h"
#include "language/kc_command.h"

namespace kv {
namespace {

constexpr std::string_view kMsgLeftOver = "\"%s\" 文法が間違っています\n";
constexpr std::string_view kMsgNoCloseBracket = ") がありません\n";
constexpr std::string_view kMsgNoElements = "Condition(1) 要素数取得に失敗\n";
// Notes that say, in the author's words, what the internal texts above mean.
constexpr std::string_view kNoteEmptyParameter =
    "%d 番目のパラメータが空です (\",\" の前か後ろに値がありません)\n";
constexpr std::string_view kNoteExpressionEnds =
    "式が \"%s\" で終わっていて、その後に値がありません\n";
constexpr std::string_view kNoteLabelOneWord =
    "ラベルの名前は 1 語です。2 バイト目が記号になる文字を含む名前は、ラベルの名前に使えません\n";
constexpr std::string_view kMsgQueueOutFailed = "Condition(3) キュー出力に失敗\n";
constexpr std::string_view kMsgFetchFailed = "GetElementForCalc(1) %s 要素取得に失敗\n";
constexpr std::string_view kMsgUnknownElement = "Monomial(2) 不明な要素\n";
constexpr std::string_view kMsgUnknownItem = "QueueOut(6) 不明な要素タイプ : %c\n";

// Operator classes: one bit each. Bits 8 to 24 are the operators, whose
// operator code (their row in kOperators) is the bit number minus 8.
constexpr uint32_t Bit(int n) { return uint32_t{1} << n; }
constexpr int kFirstOperatorBit = 8;
constexpr uint32_t OperatorBit(uint8_t code) { return Bit(kFirstOperatorBit + code); }
constexpr uint32_t kTimes = OperatorBit(kOperatorTimes);
constexpr uint32_t kAt = OperatorBit(kOperatorAt);
constexpr uint32_t kOpenBracket = Bit(28);
constexpr uint32_t kCloseBracket = Bit(29);
constexpr uint32_t kOperand = Bit(30);
constexpr uint32_t kFailure = Bit(31);
static_assert(kFirstOperatorBit + kOperatorCount <= 28, "operator bits run into the other classes");

// The level of each operator class by bit number: the operators' own; an
// open bracket or an operand that follows an operand multiplies (2 (x + 1),
// juxtaposition), so it stands at the multiplicative level. Closing brackets
// and failures end every level (0).
constexpr std::array<int, 32> MakeLevelOfBit() {
  std::array<int, 32> levels{};
  for (size_t code = 0; code < kOperatorCount; ++code) {
    levels[kFirstOperatorBit + code] = kOperators[code].level;
  }
  levels[std::countr_zero(kOpenBracket)] = kMultiplicativeLevel;
  levels[std::countr_zero(kOperand)] = kMultiplicativeLevel;
  return levels;
}
constexpr std::array<int, 32> kLevelOfBit = MakeLevelOfBit();

int OperatorLevel(uint32_t operator_class) { return kLevelOfBit[std::countr_zero(operator_class)]; }

uint8_t OperatorCode(uint32_t operator_class) {
  return static_cast<uint8_t>(std::countr_zero(operator_class) - kFirstOperatorBit);
}

// Contexts of the element fetches.
constexpr const char* kCheckOperatorContext = "CheckOperator(1)";
constexpr const char* kMonomialContext = "Monomial(1)";
constexpr const char* kSignContext = "Monomial(2)";
constexpr const char* kLeftOverContext = "Condition(2)";

}  // namespace

struct KCFuncSet::ExprState {
  explicit ExprState(std::vector<ExprItem>& items) : queue(items) { queue.clear(); }
  std::vector<ExprItem>& queue;
  // The parameter's elements (the statement does not change while it is
  // compiled, so they are looked up once).
  const CommandElement* elements = nullptr;
  uint32_t parameter = 0;
  uint32_t position = 0;
  uint32_t elementCount = 0;
  uint32_t bracketDepth = 0;
  bool partial = false;
  bool done = false;
  bool terminated = false;
  // An operand was looked for past the parameter's last element.
  bool ranOut = false;

  void Variable(std::string_view name) { queue.push_back({ExprItem::kVariable, 0, 0, name}); }
  void Number(double value) { queue.push_back({ExprItem::kNumber, 0, value, {}}); }
  void String(std::string_view text) { queue.push_back({ExprItem::kString, 0, 0, text}); }
  void Operator(uint8_t code) { queue.push_back({ExprItem::kOperator, code, 0, {}}); }
};

const CommandElement* KCFuncSet::GetElementForCalc(ExprState& state, uint32_t position,
                                                   const char* context) {
  if (position < state.elementCount) return &state.elements[position];
  state.ranOut = true;
  CommandElement unused;
  command_.GetElement(state.parameter, position, &unused);  // reports why
  sys_.log.InternalError(kMsgFetchFailed, {LogArg::Own(context)});
  return nullptr;
}

uint32_t KCFuncSet::CheckOperator(ExprState& state, uint32_t position) {
  if (position >= state.elementCount) return kOperand;
  const CommandElement* element = GetElementForCalc(state, position, kCheckOperatorContext);
  if (element == nullptr) return kFailure;
  if ((element->kind & ElemString) != 0 || element->text.empty()) return kOperand;
  switch (element->text[0]) {
    case '(': case '[': case '{': return kOpenBracket;
    case ')': case ']': case '}': return kCloseBracket;
    default: break;
  }
  const int code = OperatorCodeOf(element->text);
  return code < 0 ? kOperand : OperatorBit(static_cast<uint8_t>(code));
}

bool KCFuncSet::Monomial(ExprState& state) {
  const CommandElement* element = GetElementForCalc(state, state.position, kMonomialContext);
  if (element == nullptr) return false;
  ++state.position;
  if ((element->kind & ElemNumber) != 0) {
    state.Number(element->number);
  } else if ((element->kind & ElemString) != 0) {  // strings and labels
    state.String(element->text);
  } else if ((element->kind & ElemWord) != 0) {
    state.Variable(element->text);
  } else if ((element->kind & ElemOperator) != 0) {
    // A sign before an operand.
    const char sign = element->text.empty() ? '\0' : element->text[0];
    if (sign != '+' && sign != '-') {
      SyntaxErrorAt(*element);
      return false;
    }
    const double sign_value = sign == '+' ? 1.0 : -1.0;
    const uint8_t sign_code = sign == '+' ? kOperatorPlus : kOperatorMinus;
    const CommandElement* next = GetElementForCalc(state, state.position, kSignContext);
    if (next == nullptr) return false;
    if ((next->kind & ElemWord) != 0) {
      // -x is compiled as 0 - x.
      state.Number(0);
      state.Variable(next->text);
      state.Operator(sign_code);
      ++state.position;
    } else if ((next->kind & ElemNumber) != 0) {
      state.Number(sign_value * next->number);  // folded into the literal
      ++state.position;
    } else if (CheckOperator(state, state.position) == kOpenBracket) {
      // -(a + b): the bracket that follows multiplies the sign value.
      state.Number(sign_value);
    } else {
      SyntaxErrorAt(*next);
      return false;
    }
  } else {
    sys_.log.InternalError(kMsgUnknownElement);
    return false;
  }
  return true;
}

bool KCFuncSet::Primary(ExprState& state) {
  const uint32_t c = CheckOperator(state, state.position);
  if (c == kFailure) return false;
  if (c != kOpenBracket) return Monomial(state);
  // Every nesting level costs a fixed number of stack frames.
  if (state.bracketDepth >= kMaxBracketDepth) {
    SyntaxErrorAt(state.elements[state.position]);
    return false;
  }
  ++state.bracketDepth;
  ++state.position;
  if (!ParseLevel(state, kAssignmentLevel)) return false;
  --state.bracketDepth;
  if (state.done) return true;
  if (CheckOperator(state, state.position) != kCloseBracket) return MissingCloseBracket(state);
  ++state.position;
  return true;
}

// Parses an operand and every operator of `level` or a tighter one that
// follows it, each with its right operand (an operand and the operators
// binding tighter than its own), writing postfix items.
bool KCFuncSet::ParseLevel(ExprState& state, int level) {
  if (state.done) return true;
  if (!Primary(state)) return false;
  // The assignment groups to the right: a = b = c is a, b, c, =, =. Its
  // operators are held back and appended after the last operand instead of
  // recursing once per operator.
  uint32_t pending_assignments = 0;
  while (!state.done && state.position < state.elementCount) {
    uint32_t c = CheckOperator(state, state.position);
    if (c == kFailure) return false;
    const int operator_level = OperatorLevel(c);
    if (operator_level < level) break;  // a looser operator: the caller's
    const bool at_ends_piece = state.partial && c == kAt;
    if (c == kOperand || c == kOpenBracket) {
      c = kTimes;  // 2 x and 2 (x + 1) multiply; nothing consumed
    } else {
      ++state.position;
    }
    if (state.position >= state.elementCount) {
      // An operator may not end the expression.
      SyntaxErrorAt(state.elements[state.position - 1]);
      return false;
    }
    if (at_ends_piece) {
      state.done = true;
      state.terminated = true;
      break;
    }
    const bool right = operator_level == kTightestLevel ? Primary(state)
                                                        : ParseLevel(state, operator_level + 1);
    if (!right) return false;
    if (operator_level == kAssignmentLevel) {
      ++pending_assignments;
    } else {
      state.Operator(OperatorCode(c));
    }
  }
  for (; pending_assignments > 0; --pending_assignments) state.Operator(kOperatorAssign);
  return true;
}

bool KCFuncSet::QueueOut(ExprState& state, uint32_t* item_count, bool write_count,
                         bool write_terminator) {
  const uint32_t k = static_cast<uint32_t>(state.queue.size());
  if (!WriteItems(state.queue, write_count, write_terminator)) {
    // The one write could not be made: the entries go one by one, so the one
    // that fails is reported by its own encoder.
    if (write_count && !WriteChar(static_cast<uint8_t>(k), "QueueOut(1)")) return false;
    for (const ExprItem& item : state.queue) {
      bool ok = false;
      switch (item.kind) {
        case ExprItem::kVariable: ok = WriteVariable(item.text, "QueueOut(2)"); break;
        case ExprItem::kNumber: ok = WriteDouble(item.number); break;
        case ExprItem::kString: ok = WriteString(item.text, "QueueOut(3)"); break;
        case ExprItem::kOperator: ok = WriteChar(item.code, "QueueOut(5)"); break;
        default: sys_.log.InternalError(kMsgUnknownItem, {LogArg::Char(item.kind)}); break;
      }
      if (!ok) return false;
    }
    if (write_terminator && !WriteChar(kOperatorAt, "QueueOut(7)")) return false;
  }
  state.queue.clear();
  if (item_count != nullptr) *item_count = k + (write_terminator ? 1 : 0);
  return true;
}

bool KCFuncSet::MissingCloseBracket(ExprState& state) {
  // Reported at the bracket left open: the brackets opened after it are all
  // closed again, so it is the first one back that no closing one matches.
  uint32_t open = 0;
  for (uint32_t k = state.position, closed = 0; k-- > 0;) {
    const uint32_t c = CheckOperator(state, k);
    if (c == kCloseBracket) {
      ++closed;
    } else if (c == kOpenBracket && closed-- == 0) {
      open = k;
      break;
    }
  }
  sys_.log.ErrorAt(PlaceOf(state.elements[open]), kMsgNoCloseBracket);
  return false;
}

bool KCFuncSet::NoteSplitWord(const ExprState& state) {
  for (uint32_t i = 0; i + 1 < state.elementCount; ++i) {
    const CommandElement& word = state.elements[i];
    const CommandElement& symbol = state.elements[i + 1];
    if (word.kind != ElemWord || symbol.kind != ElemOperator ||
        symbol.offset != word.offset + word.text.size() || !EndsWithLeadByte(word.text)) {
      continue;
    }
    const std::string character{word.text.back(), symbol.text[0]};
    SourcePlace place = PlaceOf(symbol);
    --place.column;  // where the character begins
    sys_.log.NoteAt(place, kMsgSplitWord, {character, symbol.text.substr(0, 1)});
    return true;
  }
  return false;
}

bool KCFuncSet::Condition(uint32_t* start_index, uint32_t parameter, uint32_t* item_count) {
  ExprState state(queue_);
  state.parameter = parameter;
  state.partial = start_index != nullptr;
  state.position = state.partial ? *start_index : 0;
  state.elementCount = command_.GetElemSize(parameter);
  if (state.elementCount == 0) {
    sys_.log.InternalError(kMsgNoElements);
    sys_.log.Note(kNoteEmptyParameter, {static_cast<int32_t>(parameter + 1)});
    return false;
  }
  state.elements = command_.ElementAt(parameter, 0);
  if (!ParseLevel(state, kAssignmentLevel)) {
    if (NoteSplitWord(state)) {
      const int32_t id = command_.StatementId();
      if (id == cmd::kGoto || id == cmd::kFunctionCall) {
        sys_.log.Note(kNoteLabelOneWord);
      }
    } else if (state.ranOut) {
      const CommandElement& last = state.elements[state.elementCount - 1];
      sys_.log.NoteAt(PlaceOf(last), kNoteExpressionEnds, {last.text});
    }
    return false;
  }
  if (!state.partial && state.position < state.elementCount) {
    const CommandElement* element = GetElementForCalc(state, state.position, kLeftOverContext);
    if (element != nullptr) SyntaxErrorAt(*element, kMsgLeftOver);
    return false;
  }
  // The count is one byte; a longer expression is rejected, never wrapped.
  // (Pieces of a declaration are counted together by their caller.)
  if (!state.partial && state.queue.size() > kMaxItemCount) {
    sys_.log.Error(kMsgTooManyItems);
    return false;
  }
  if (state.partial) *start_index = state.position;
  if (!QueueOut(state, item_count, !state.partial, state.terminated)) {
    sys_.log.InternalError(kMsgQueueOutFailed);
    return false;
  }
  // A whole parameter (its count and items) is one entry of its command.
  if (!state.partial) ++pending_entries_;
  return true;
}

}  // namespace kv
