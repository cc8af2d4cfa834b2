#include "language/statement_lint.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "context/kc_system.h"
#include "language/kc_command.h"
#include "platform/console.h"
#include "source/numbers.h"
#include "source/source_loader.h"
#include "source/tokenizer.h"

namespace kv {
namespace {

// The example text of the check, with and without its suggestion.
#define KV_NOT_A_COMMAND "\"%s\" はコマンドではないため、%sとして書き出されます"
constexpr std::string_view kMsgUnknownCommand = KV_NOT_A_COMMAND "\n";
constexpr std::string_view kMsgUnknownCommandNear = KV_NOT_A_COMMAND " (\"%s\" ではありませんか?)\n";
#undef KV_NOT_A_COMMAND
constexpr char kAsText[] = "テキスト";
constexpr char kAsCalc[] = "計算式";
constexpr std::string_view kMsgMissingSemicolon =
    "; がないため、%d 行目の \"%s\" もこのコマンドの続きとして書き出されます\n";
constexpr std::string_view kMsgStringSpansLines =
    "文字列が改行を含み、%d 行目まで続いています (閉じる %c がない可能性があります)\n";
constexpr std::string_view kMsgFullWidthSymbol =
    "全角の \"%s\" は記号として読まれません (半角の \"%s\" ではありませんか?)\n";
constexpr std::string_view kMsgFullWidthSpace =
    "全角スペースの 2 バイト目が記号 \"@\" として読まれます。区切りには半角スペースを使ってください\n";
constexpr std::string_view kMsgElseWithCondition =
    "else のパラメータは使われません (条件を付けるには \"elseif\" と書きます)\n";
constexpr std::string_view kMsgNoCreateWindow =
    "main.txt に create_window がないため、すべてのスクリプトがウィンドウを作る前の設定として"
    "書き出されます\n";

constexpr std::string_view kMsgImplicitMultiplication =
    "%s と %s の間に演算子がないため、掛け算として書き出されます\n";
constexpr std::string_view kNoteImplicitMultiplication =
    "掛け算なら * を、パラメータの区切りなら , を間に書いてください\n";
constexpr std::string_view kMsgImplicitMultiplicationAcrossLines =
    "%s と次の行の %s の間に演算子がないため、掛け算として書き出されます"
    " (%d 行目で始まった文の ; か , がない可能性があります)\n";
constexpr std::string_view kNoteImplicitMultiplicationAcrossLines =
    "文の終わりには ; を、パラメータの区切りには , を書いてください\n";
constexpr std::string_view kNoteSetupPhaseNoWindow =
    "main.txt には create_window がありません。設定のコマンドの後に create_window; を書き、"
    "このコマンドはその後に書いてください\n";
constexpr std::string_view kMsgSetupPhaseCommand =
    "\"%s\" は create_window より前には使えないため、計算式として書き出されます\n";
constexpr std::string_view kNoteSetupPhaseCommand =
    "create_window の後に書くか、main.txt の create_window をこの行より前に書いてください\n";
constexpr std::string_view kMsgAssignmentInCondition =
    "条件の中の = は代入です。値は比べられず、%s が書き換えられます\n";
constexpr std::string_view kMsgAssignmentInConditionOnly = "条件の中の = は代入です。値は比べられません\n";
constexpr std::string_view kNoteAssignmentInCondition = "等しいかを比べるには == と書いてください\n";
constexpr std::string_view kMsgCommandNameAsVariable =
    "\"%s\" はコマンドの名前のため、この変数は文の先頭に書くとコマンドとして読まれます\n";
constexpr std::string_view kNoteCommandNameAsVariable =
    "コマンドと重ならない名前 (\"%s_\" など) にしてください\n";

// Commands that make a name of their own in their first parameter (a
// layer, a text layer, a button, a sound, ...), and those whose words are
// all names they make (the parameters of a function).
constexpr std::string_view kNameMakingCommands[] = {
    "layer", "rect_layer", "copy_layer", "screen_copy_layer", "animation", "animation_ex",
    "text_layer", "bar", "button", "rect_button", "button_group", "sound", "sound_load", "movie",
    "key_group", "time_event", "menu_main_bar", "menu_popup_bar", "menu_system_bar", "menu",
    "menu_set", "menu_sub_set", "menu_sub_set_ex", "menu_separator_set", "menu_separator_sub_set",
    "tool_hint", "tool_hint_balloon",
};
constexpr std::string_view kAllNamesCommands[] = {"function_valparam", "function_strparam"};

// Commands whose parameters hold no values: names of labels, functions and
// commands.
constexpr int32_t kCommandsWithoutValues[] = {cmd::kFunction, cmd::kFunctionDeclaration,
                                               cmd::kNewCommand, cmd::kGoto};

// Commands whose first parameter names a label or a function.
constexpr std::string_view kTargetCommands[] = {"jump", "function_call"};

template <typename List, typename T>
bool Contains(const List& list, const T& value) {
  return std::find(std::begin(list), std::end(list), value) != std::end(list);
}

// Commands whose file names need not be in the game: text shows them, the
// others name files the game writes, loads from its save folder or asks for.
constexpr std::string_view kFileNamesNotInTheGame[] = {
    "text", "save", "save_global", "load", "load_global", "check_file", "save_screen",
    "release_system_log_name",
};

// Full-width punctuation (the second byte after 0x81) that an author meant
// as its ASCII twin.
struct FullWidth {
  char second;
  const char* ascii;
};
constexpr FullWidth kFullWidthSymbols[] = {{'\x47', ";"}, {'\x46', ":"}, {'\x43', ","}};
constexpr char kFullWidthLead = '\x81';
// The symbols that end a word and may be the second byte of a character.
constexpr std::string_view kSplittingSymbols = "@[]{|}";
constexpr char kFullWidthSpaceSecond = '\x40';

}  // namespace

bool StatementLint::IsAsciiName(std::string_view word) {
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
  if (word.empty() || !letter(word[0])) return false;
  return std::all_of(word.begin(), word.end(),
                     [&](char c) { return letter(c) || (c >= '0' && c <= '9'); });
}

size_t StatementLint::EditDistance(std::string_view a, std::string_view b, size_t limit) {
  const size_t length_difference = a.size() > b.size() ? a.size() - b.size() : b.size() - a.size();
  if (length_difference > limit) return limit + 1;
  // Three rows: two back (for swaps), the last, the current.
  std::vector<size_t> before(b.size() + 1), last(b.size() + 1), current(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) last[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    current[0] = i;
    size_t row_best = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      size_t best = std::min({last[j] + 1, current[j - 1] + 1, last[j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        best = std::min(best, before[j - 2] + 1);
      }
      current[j] = best;
      row_best = std::min(row_best, best);
    }
    if (row_best > limit) return limit + 1;
    std::swap(before, last);
    std::swap(last, current);
  }
  return last[b.size()];
}

namespace {

bool IsAscii(char c) { return static_cast<unsigned char>(c) < 0x80; }

bool IsOperand(const CommandElement& element) {
  return element.kind == ElemWord || element.kind == ElemNumber || (element.kind & ElemString) != 0;
}

bool IsBracket(const CommandElement& element, std::string_view brackets) {
  return element.kind == ElemOperator && element.text.size() == 1 &&
         brackets.find(element.text[0]) != std::string_view::npos;
}

// An element as its author wrote it, for a message: a word in double
// quotes, a string in its own (cut after about twenty bytes or at its first
// line feed), a number as its source text.
std::string Written(std::string_view text, const CommandElement& element) {
  if (element.kind == ElemNumber && element.offset < text.size()) {
    // As much of the source as the tokenizer read as the number.
    double value = 0;
    size_t consumed = 0;
    ReadNumberText(text.substr(element.offset), &value, &consumed);
    return std::string(text.substr(element.offset, consumed));
  }
  if ((element.kind & ElemString) == 0 || element.kind == ElemLabel) return '"' + element.text + '"';
  const char quote = element.offset < text.size() ? text[element.offset] : '"';
  constexpr size_t kShown = 20;
  size_t cut = 0;
  // A message is one line: a string that runs over a line feed is cut there.
  while (cut < element.text.size() && cut < kShown && element.text[cut] != '\n') {
    cut += IsCp932LeadByte(static_cast<unsigned char>(element.text[cut])) ? 2 : 1;
  }
  cut = std::min(cut, element.text.size());
  std::string written(1, quote);
  written.append(element.text, 0, cut);
  if (cut < element.text.size()) written += "...";
  written += quote;
  return written;
}

// Whether the element stands first on its line (only blanks before it).
bool BeginsLine(std::string_view text, uint32_t offset) {
  for (size_t i = offset; i > 0; --i) {
    const char c = text[i - 1];
    if (c == '\n') return true;
    if (c != ' ' && c != '\t' && c != '\r') return false;
  }
  return true;
}

}  // namespace

StatementLint::StatementLint(KCSystem& sys, const KCCommand& command) : sys_(sys), command_(command) {}

std::string_view StatementLint::NearestCommand(std::string_view word, const KCCommand& command) {
  constexpr size_t kMaxEdits = 2;
  std::string_view nearest;
  size_t best = kMaxEdits + 1;
  auto consider = [&](std::string_view name) {
    const size_t distance = EditDistance(word, name, std::min(best, kMaxEdits));
    if (distance < best) {
      best = distance;
      nearest = name;
    }
  };
  for (const CommandInfo& info : kCommands) consider(info.name);
  for (const auto& [id, alias] : command.Aliases()) consider(alias);
  return nearest;
}

void StatementLint::CheckStatement(const SourceText& source) {
  const Statement& statement = command_.statement();
  if (statement.size() == 0 || statement[0].empty()) return;
  // The statements of a void or debug_only block are never compiled.
  if (command_.BlockDepth() != 0 && (command_.TopBlock().flags & (BlkVoid | BlkDebugOnly))) return;

  const CommandElement& first = statement[0][0];
  const int32_t id = (first.kind & 0x10) ? CmdLabel : command_.PeekCommandId(first.text);
  const CheckSet& checks = sys_.options.checks;
  if (command_.InSetupPhase() && !sys_.carried.mainScriptEnded && !window_checked_) {
    // Said at the first statement, before any error of the setup phase (a
    // failed statement there ends the conversion, and main.txt's end with it).
    window_checked_ = true;
    window_missing_ = source.path == MainScriptPath(sys_) && !MentionsCreateWindow(source.contents);
    if (window_missing_) WarnNoCreateWindow(source);
  }
  CheckLeadingWord(source, first, id);
  if (checks.On(Check::kMissingSemicolon)) CheckContinuedLines(source);
  if (checks.On(Check::kStringSpansLines)) CheckStrings(source);
  if (checks.On(Check::kFullWidthPunctuation) || checks.On(Check::kSplitWord)) {
    CheckDoubleByteCharacters(source);
  }
  if (checks.On(Check::kImplicitMultiplication)) CheckOperands(source, id);
  if (checks.On(Check::kAssignmentInCondition)) CheckCondition(source, id);
}

void StatementLint::CheckLeadingWord(const SourceText& source, const CommandElement& first, int32_t id) {
  const Statement& statement = command_.statement();
  if (id >= cmd::kValue && id <= cmd::kLocalString) {
    // The first word of each parameter is the variable declared.
    for (uint32_t p = 0; p < statement.size(); ++p) {
      const CommandParameter& parameter = statement[p];
      const size_t at = p == 0 ? 1 : 0;
      if (at >= parameter.size() || parameter[at].kind != ElemWord) continue;
      const CommandElement& name = parameter[at];
      sys_.carried.declaredVariables.Insert(name.text);
      if (command_.NamesCommand(name.text) && sys_.options.checks.On(Check::kCommandNameAsVariable)) {
        const SourcePlace place = Diagnostics::PlaceIn(source, name.offset);
        sys_.log.WarningAt(place, kMsgCommandNameAsVariable, {name.text},
                           CheckDetails(Check::kCommandNameAsVariable));
        sys_.log.NoteAt(place, kNoteCommandNameAsVariable, {name.text});
      }
    }
    return;
  }
  const bool more_than_the_word = statement.size() > 1 || statement[0].size() > 1;
  if (id == cmd::kElse && more_than_the_word && sys_.options.checks.On(Check::kElseWithCondition)) {
    sys_.log.WarningAt(Diagnostics::PlaceIn(source, statement[0].size() > 1 ? statement[0][1].offset
                                                                             : first.offset),
                       kMsgElseWithCondition, {}, CheckDetails(Check::kElseWithCondition));
    return;
  }
  if (id == CmdInvalid && first.kind == ElemWord && command_.InSetupPhase() && !sys_.carried.mainScriptEnded &&
      command_.NamesCommand(first.text) && sys_.options.checks.On(Check::kSetupPhaseCommand)) {
    // A command of the main phase, before create_window: compiled as calc.
    const SourcePlace place = Diagnostics::PlaceIn(source, first.offset);
    sys_.log.WarningAt(place, kMsgSetupPhaseCommand, {first.text},
                       CheckDetails(Check::kSetupPhaseCommand));
    sys_.log.NoteAt(place, window_missing_ ? kNoteSetupPhaseNoWindow : kNoteSetupPhaseCommand);
    return;
  }
  if (id != CmdInvalid || first.kind != ElemWord || !sys_.options.checks.On(Check::kUnknownCommand)) {
    return;
  }
  // Not a command: the setup phase compiles it as calc, the main phase as
  // calc when it is one parameter of several elements, else as text. A word
  // that names a variable (declared, or assigned to) is an expression.
  if (!IsAsciiName(first.text) || command_.NamesCommand(first.text) || sys_.carried.declaredVariables.Contains(first.text)) {
    return;
  }
  const CommandParameter& parameter = statement[0];
  if (parameter.size() > 1 && parameter[1].kind == ElemOperator && parameter[1].text == "=") return;
  const bool as_calc = command_.InSetupPhase() || (statement.size() == 1 && parameter.size() > 1);
  const LogArg as = LogArg::Own(as_calc ? kAsCalc : kAsText);
  const SourcePlace place = Diagnostics::PlaceIn(source, first.offset);
  const ReportDetails details = CheckDetails(Check::kUnknownCommand);
  const std::string_view nearest = NearestCommand(first.text, command_);
  if (nearest.empty()) {
    sys_.log.WarningAt(place, kMsgUnknownCommand, {first.text, as}, details);
  } else {
    sys_.log.WarningAt(place, kMsgUnknownCommandNear, {first.text, as, nearest}, details);
  }
}

void StatementLint::CheckContinuedLines(const SourceText& source) {
  const Statement& statement = command_.statement();
  for (uint32_t p = 0; p < statement.size(); ++p) {
    const CommandParameter& parameter = statement[p];
    // The first element of a parameter follows a comma: continued on purpose.
    for (size_t i = 1; i < parameter.size(); ++i) {
      const CommandElement& element = parameter[i];
      if (element.kind != ElemWord || parameter[i - 1].kind == ElemOperator ||
          !BeginsLine(source.contents, element.offset) || !command_.NamesCommand(element.text)) {
        continue;
      }
      sys_.log.WarningAt(Diagnostics::StatementPlace(source), kMsgMissingSemicolon,
                         {source.LineAt(element.offset), element.text},
                         CheckDetails(Check::kMissingSemicolon));
      return;
    }
  }
}

void StatementLint::CheckStrings(const SourceText& source) {
  const std::string_view text = source.contents;
  for (uint32_t p = 0; p < command_.statement().size(); ++p) {
    for (const CommandElement& element : command_.statement()[p]) {
      if (element.kind != ElemString || element.text.find('\n') == std::string::npos) continue;
      // The element joins adjacent literals: find the one that holds the
      // line feed, by the quotes that the tokenizer read.
      size_t at = element.offset;
      while (at < text.size() && (text[at] == '"' || text[at] == '\'')) {
        const char quote = text[at];
        const size_t close = std::min(text.find(quote, at + 1), text.size());
        const std::string_view body = text.substr(at + 1, close - at - 1);
        if (body.find('\n') != std::string_view::npos) {
          const int32_t end_line = source.LineAt(static_cast<uint32_t>(close));
          sys_.log.WarningAt(Diagnostics::PlaceIn(source, static_cast<uint32_t>(at)),
                             kMsgStringSpansLines, {end_line, LogArg::Char(quote)},
                             CheckDetails(Check::kStringSpansLines));
          return;
        }
        at = text.find_first_not_of(" \t\n\v\f\r", close + 1);
      }
    }
  }
}

void StatementLint::CheckDoubleByteCharacters(const SourceText& source) {
  const std::string_view text = source.contents;
  const CheckSet& checks = sys_.options.checks;
  bool full_width_told = !checks.On(Check::kFullWidthPunctuation);
  bool split_told = !checks.On(Check::kSplitWord);
  for (uint32_t p = 0; p < command_.statement().size(); ++p) {
    for (const CommandElement& element : command_.statement()[p]) {
      if (element.kind != ElemWord && element.kind != ElemLabel) continue;
      const std::string& word = element.text;
      for (size_t i = 0; i < word.size(); ++i) {
        if (!IsCp932LeadByte(static_cast<unsigned char>(word[i]))) continue;
        const uint32_t offset = element.offset + static_cast<uint32_t>(i);
        if (i + 1 == word.size()) {
          // The word ends inside a character: its second byte stopped it.
          const size_t next = element.offset + word.size();
          if (next >= text.size()) break;
          const std::string character{word[i], text[next]};
          if (word[i] == kFullWidthLead && text[next] == kFullWidthSpaceSecond) {
            if (full_width_told) break;
            full_width_told = true;
            sys_.log.WarningAt(Diagnostics::PlaceIn(source, offset), kMsgFullWidthSpace, {},
                               CheckDetails(Check::kFullWidthPunctuation));
          } else if (!split_told && kSplittingSymbols.find(text[next]) != std::string_view::npos) {
            split_told = true;
            sys_.log.WarningAt(Diagnostics::PlaceIn(source, offset), kMsgSplitWord,
                               {character, character.substr(1)}, CheckDetails(Check::kSplitWord));
          }
          break;
        }
        const char second = word[i + 1];
        ++i;
        if (full_width_told || word[i - 1] != kFullWidthLead) continue;
        const auto symbol = std::find_if(std::begin(kFullWidthSymbols), std::end(kFullWidthSymbols),
                                         [&](const FullWidth& f) { return f.second == second; });
        if (symbol == std::end(kFullWidthSymbols)) continue;
        // Inside Japanese words it may be the text's own punctuation; at the
        // edge of a word or beside ASCII it stands where code meant its twin.
        const size_t start = i - 1;
        const bool at_edge = start == 0 || i + 1 == word.size() || IsAscii(word[start - 1]) ||
                             IsAscii(word[i + 1]);
        if (!at_edge) continue;
        full_width_told = true;
        sys_.log.WarningAt(Diagnostics::PlaceIn(source, offset), kMsgFullWidthSymbol,
                           {std::string_view(word).substr(start, 2), LogArg::Own(symbol->ascii)},
                           CheckDetails(Check::kFullWidthPunctuation));
      }
    }
  }
}

void StatementLint::CheckOperands(const SourceText& source, int32_t id) {
  if (id == CmdLabel || Contains(kCommandsWithoutValues, id)) return;
  const Statement& statement = command_.statement();
  const bool is_command = id >= 0 && id < kCommandCount;
  // A command's word that the setup phase compiles as calc is told of by
  // setup-phase-command, a misspelt one by unknown-command.
  const CommandElement& first = statement[0][0];
  const bool skip_leading =
      is_command || (first.kind == ElemWord &&
                     (command_.NamesCommand(first.text) ||
                      (IsAsciiName(first.text) && !sys_.carried.declaredVariables.Contains(first.text))));
  const bool semicolon_check = sys_.options.checks.On(Check::kMissingSemicolon);
  for (uint32_t p = 0; p < statement.size(); ++p) {
    const CommandParameter& parameter = statement[p];
    const size_t start = p == 0 && skip_leading ? 1 : 0;
    for (size_t i = start + 1; i < parameter.size(); ++i) {
      const CommandElement& before = parameter[i - 1];
      const CommandElement& element = parameter[i];
      if (!IsOperand(element) || !(IsOperand(before) || IsBracket(before, ")]}"))) continue;
      const bool new_line = source.LineAt(before.offset) != source.LineAt(element.offset);
      // A command's word at the start of a line is told of by missing-semicolon.
      if (new_line && semicolon_check && element.kind == ElemWord &&
          BeginsLine(source.contents, element.offset) && command_.NamesCommand(element.text)) {
        return;
      }
      const SourcePlace place = Diagnostics::PlaceIn(source, element.offset);
      const std::string left = Written(source.contents, before);
      const std::string right = Written(source.contents, element);
      const ReportDetails details = CheckDetails(Check::kImplicitMultiplication);
      if (new_line) {
        sys_.log.WarningAt(place, kMsgImplicitMultiplicationAcrossLines,
                           {left, right, Diagnostics::StatementPlace(source).line}, details);
        sys_.log.NoteAt(place, kNoteImplicitMultiplicationAcrossLines);
      } else {
        sys_.log.WarningAt(place, kMsgImplicitMultiplication, {left, right}, details);
        sys_.log.NoteAt(place, kNoteImplicitMultiplication);
      }
      return;
    }
  }
}

void StatementLint::CheckCondition(const SourceText& source, int32_t id) {
  if (id != cmd::kIf && id != cmd::kElseIf && id != cmd::kLoop) return;
  const CommandParameter& condition = command_.statement()[0];
  int depth = 0;
  for (size_t i = 1; i < condition.size(); ++i) {
    const CommandElement& element = condition[i];
    if (IsBracket(element, "([{")) ++depth;
    if (IsBracket(element, ")]}")) --depth;
    if (depth != 0 || element.kind != ElemOperator || element.text != "=") continue;
    const SourcePlace place = Diagnostics::PlaceIn(source, element.offset);
    // Only a word before it is a variable that the assignment changes.
    if (i > 1 && condition[i - 1].kind == ElemWord) {
      sys_.log.WarningAt(place, kMsgAssignmentInCondition, {Written(source.contents, condition[i - 1])},
                         CheckDetails(Check::kAssignmentInCondition));
    } else {
      sys_.log.WarningAt(place, kMsgAssignmentInConditionOnly, {},
                         CheckDetails(Check::kAssignmentInCondition));
    }
    sys_.log.NoteAt(place, kNoteAssignmentInCondition);
    return;
  }
}

bool NamesFilesOutsideTheGame(std::string_view command) {
  return Contains(kFileNamesNotInTheGame, command);
}

void ForEachVariableName(const KCCommand& command, int32_t id, const Statement& statement,
                         const std::function<void(NameUse::Kind, const CommandElement&)>& visit) {
  if (id == CmdLabel || Contains(kCommandsWithoutValues, id)) return;
  const bool is_command = id >= 0 && id < kCommandCount;
  const std::string_view name = is_command ? kCommands[id].name : std::string_view();
  const bool all_names = is_command && Contains(kAllNamesCommands, name);
  const bool declaration = id >= cmd::kValue && id <= cmd::kLocalString;
  const bool local = id == cmd::kLocalValue || id == cmd::kLocalString;
  const bool makes_name = is_command && Contains(kNameMakingCommands, name);
  const bool names_target = is_command && Contains(kTargetCommands, name);
  for (uint32_t p = 0; p < statement.size(); ++p) {
    const CommandParameter& parameter = statement[p];
    size_t start = p == 0 && is_command ? 1 : 0;
    if (p == 0 && !is_command && parameter[0].kind == ElemWord) {
      // The leading word of a statement that is no command: kept when it is
      // assigned to (else unknown-command tells of it).
      const bool assigned = parameter.size() > 1 && parameter[1].kind == ElemOperator &&
                            parameter[1].text == "=";
      if (assigned && !command.NamesCommand(parameter[0].text)) {
        visit(NameUse::kAssignedWord, parameter[0]);
      }
      start = 1;
    }
    for (size_t i = start; i < parameter.size(); ++i) {
      const CommandElement& element = parameter[i];
      if (element.kind != ElemWord) continue;
      if (all_names) {
        visit(NameUse::kMadeName, element);
        continue;
      }
      if (declaration && i == start) {
        visit(local ? NameUse::kLocalDeclaration : NameUse::kVariableDeclaration, element);
        continue;
      }
      if (p == 0 && i == start && parameter.size() == start + 1 && (makes_name || names_target)) {
        if (makes_name) visit(NameUse::kMadeName, element);
        continue;
      }
      const std::string& word = element.text;
      // A command's name read as a value is an error of its own.
      if (command.NamesCommand(word)) continue;
      const bool after_at = declaration && parameter[i - 1].kind == ElemOperator &&
                            parameter[i - 1].text == "@";
      if (after_at && !IsAscii(std::string_view(word))) {
        visit(NameUse::kInitialValueWord, element);
      } else {
        visit(NameUse::kVariableUse, element);
      }
    }
  }
}

StatementLint::WordShape StatementLint::ShapeOf(std::string_view word) {
  // Full-width digits (and the full-width point) only, or a full-width
  // double quote anywhere.
  bool digits_only = true;
  bool digit = false;
  for (size_t i = 0; i < word.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(word[i]);
    if (!IsCp932LeadByte(c) || i + 1 == word.size()) {
      digits_only = false;
      continue;
    }
    const unsigned char second = static_cast<unsigned char>(word[++i]);
    if (c == 0x81 && (second == 0x67 || second == 0x68)) return WordShape::kImeQuotes;
    if (c == 0x82 && second >= 0x4F && second <= 0x58) {
      digit = true;
    } else if (!(c == 0x81 && second == 0x44)) {
      digits_only = false;
    }
  }
  return digits_only && digit ? WordShape::kFullWidthNumber : WordShape::kName;
}

std::string StatementLint::AsciiDigits(std::string_view word) {
  std::string ascii;
  for (size_t i = 0; i + 1 < word.size(); i += 2) {
    ascii.push_back(word[i] == '\x82' ? static_cast<char>('0' + (static_cast<unsigned char>(word[i + 1]) - 0x4F))
                                      : '.');
  }
  return ascii;
}

void StatementLint::ScriptEnded(const SourceText& source) {
  // main.txt ended in the setup phase: it has no create_window.
  if (sys_.carried.mainScriptEnded || source.path != MainScriptPath(sys_)) return;
  sys_.carried.mainScriptEnded = true;
  if (!command_.InSetupPhase() || window_missing_) return;
  WarnNoCreateWindow(source);
}

void StatementLint::WarnNoCreateWindow(const SourceText& source) {
  if (!sys_.options.checks.On(Check::kNoCreateWindow)) return;
  // At the end of the script's last line, where the tokenizer puts its end.
  std::string_view text = source.contents;
  if (!text.empty() && text.back() == '\0') text.remove_suffix(1);
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  sys_.log.WarningAt(Diagnostics::PlaceIn(source, static_cast<uint32_t>(text.size())), kMsgNoCreateWindow,
                     {}, CheckDetails(Check::kNoCreateWindow));
}

bool StatementLint::MentionsCreateWindow(std::string_view text) {
  constexpr std::string_view kWord = "create_window";
  for (size_t at = text.find(kWord); at != std::string_view::npos; at = text.find(kWord, at + 1)) {
    const size_t end = at + kWord.size();
    const bool starts = at == 0 || kWordStops.find(text[at - 1]) != std::string_view::npos;
    const bool ends = end == text.size() || kWordStops.find(text[end]) != std::string_view::npos ||
                      text[end] == '\0';
    if (starts && ends) return true;
  }
  return false;
}

}  // namespace kv
