#include "language/statement_lint.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "context/kc_system.h"
#include "language/kc_command.h"
#include "platform/console.h"
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

bool IsAsciiName(std::string_view word) {
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
  if (word.empty() || !letter(word[0])) return false;
  return std::all_of(word.begin(), word.end(),
                     [&](char c) { return letter(c) || (c >= '0' && c <= '9'); });
}

bool IsAscii(char c) { return static_cast<unsigned char>(c) < 0x80; }

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

// Edits from `a` to `b` (insertions, deletions, substitutions and swaps of
// neighbours), or more than `limit` when that is more.
size_t EditDistance(std::string_view a, std::string_view b, size_t limit) {
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

StatementLint::StatementLint(KCSystem& sys, const KCCommand& command) : sys_(sys), command_(command) {
  for (const std::vector<std::string>& list : sys.options.extensions) {
    for (const std::string& extension : list) {
      std::string dotted = "." + extension;
      std::transform(dotted.begin(), dotted.end(), dotted.begin(), AsciiLower);
      extensions_.push_back(std::move(dotted));
    }
  }
}

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

void StatementLint::CheckStatement(const KCFile& source) {
  const Statement& statement = command_.statement();
  if (statement.size() == 0 || statement[0].empty()) return;
  // The statements of a void or debug_only block are never compiled.
  if (command_.BlockDepth() != 0 && (command_.TopBlock().flags & (BlkVoid | BlkDebugOnly))) return;

  const CommandElement& first = statement[0][0];
  const int32_t id = (first.kind & 0x10) ? CmdLabel : command_.PeekCommandId(first.text);
  const CheckSet& checks = sys_.options.checks;
  CheckLeadingWord(source, first, id);
  if (checks.On(Check::kMissingSemicolon)) CheckContinuedLines(source);
  if (checks.On(Check::kStringSpansLines)) CheckStrings(source);
  if (checks.On(Check::kFullWidthPunctuation) || checks.On(Check::kSplitWord)) {
    CheckDoubleByteCharacters(source);
  }
  if (checks.On(Check::kMissingFile) && id >= 0 && id < kCommandCount) KeepFileNames(id);
}

void StatementLint::CheckLeadingWord(const KCFile& source, const CommandElement& first, int32_t id) {
  const Statement& statement = command_.statement();
  if (id >= cmd::kValue && id <= cmd::kLocalString) {
    // The first word of each parameter is the variable declared.
    for (uint32_t p = 0; p < statement.size(); ++p) {
      const CommandParameter& parameter = statement[p];
      const size_t at = p == 0 ? 1 : 0;
      // Kept for the rest of the run: a statement that begins with a
      // declared variable is an expression, not a misspelt command.
      if (at < parameter.size() && parameter[at].kind == ElemWord) {
        sys_.carried.declaredVariables.insert(parameter[at].text);
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
  if (id != CmdInvalid || first.kind != ElemWord || !sys_.options.checks.On(Check::kUnknownCommand)) {
    return;
  }
  // Not a command: the setup phase compiles it as calc, the main phase as
  // calc when it is one parameter of several elements, else as text. A word
  // that names a variable (declared, or assigned to) is an expression.
  if (!IsAsciiName(first.text) || command_.NamesCommand(first.text) || sys_.carried.declaredVariables.count(first.text)) {
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

void StatementLint::CheckContinuedLines(const KCFile& source) {
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

void StatementLint::CheckStrings(const KCFile& source) {
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

void StatementLint::CheckDoubleByteCharacters(const KCFile& source) {
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

bool StatementLint::NamesFile(std::string_view text) const {
  // A bare name: no blank or control byte, a stem and an extension of the
  // four lists in its last part (in any case: bg.PNG names a picture too).
  if (text.empty() || text.back() == '/' || text.back() == '\\') return false;
  if (std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) <= ' '; })) {
    return false;
  }
  for (const std::string& extension : extensions_) {
    if (text.size() <= extension.size()) continue;
    const std::string_view tail = text.substr(text.size() - extension.size());
    const char before = text[text.size() - extension.size() - 1];
    if (before == '/' || before == '\\') continue;
    if (std::equal(tail.begin(), tail.end(), extension.begin(),
                   [](char a, char b) { return AsciiLower(a) == b; })) {
      return true;
    }
  }
  return false;
}

void StatementLint::KeepFileNames(int32_t id) {
  const std::string_view name = kCommands[id].name;
  if (std::find(std::begin(kFileNamesNotInTheGame), std::end(kFileNamesNotInTheGame), name) !=
      std::end(kFileNamesNotInTheGame)) {
    return;
  }
  const Statement& statement = command_.statement();
  for (uint32_t p = 0; p < statement.size(); ++p) {
    // Parameter 0 still begins with the command's word.
    const size_t first = p == 0 ? 1 : 0;
    const CommandParameter& parameter = statement[p];
    if (parameter.size() != first + 1) continue;
    const CommandElement& element = parameter[first];
    if (element.kind != ElemString || !NamesFile(element.text)) continue;
    sys_.RecordNameUse(NameUse::kFileName, element.text, element.offset);
  }
}

void StatementLint::ScriptEnded(const KCFile& source) {
  // main.txt ended in the setup phase: it has no create_window.
  if (sys_.carried.mainScriptEnded || source.path != MainScriptPath(sys_)) return;
  sys_.carried.mainScriptEnded = true;
  if (!command_.InSetupPhase() || !sys_.options.checks.On(Check::kNoCreateWindow)) return;
  sys_.log.WarningAt(Diagnostics::StatementPlace(source), kMsgNoCreateWindow, {},
                     CheckDetails(Check::kNoCreateWindow));
}

}  // namespace kv
