// The checks of a --check run that look at each statement as it is read:
// what compiles but is almost certainly not what its author meant (a
// misspelt command, a missing ';', a string left open, full-width
// punctuation, an else with a condition, a word cut by a double-byte
// character, a main.txt without create_window). The names that the checks
// of the whole game read are kept from the statement's index instead (see
// language/name_index.h). A build makes none of these checks and creates no
// StatementLint.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "context/kc_system.h"

namespace kv {

class KCCommand;
class SourceText;
class KCSystem;
struct CommandElement;
class Statement;

// The words of a statement about to be compiled as `id` (its leading word
// still element 0 of parameter 0) that name variables or things a command
// makes, each with the kind of record the checks of variables keep of it
// (kVariableDeclaration, kLocalDeclaration, kVariableUse, kInitialValueWord,
// kAssignedWord, kMadeName), in the order they stand.
void ForEachVariableName(const KCCommand& command, int32_t id, const Statement& statement,
                         const std::function<void(NameUse::Kind, const CommandElement&)>& visit);

// Whether the strings of `command` name files that need not be in the game:
// text it shows, files the game writes, loads from its save folder or asks
// for.
bool NamesFilesOutsideTheGame(std::string_view command);

class StatementLint {
 public:
  StatementLint(KCSystem& sys, const KCCommand& command);

  // Checks the statement just read from `source`, before command reading
  // identifies it. Statements that a void or debug_only block skips are
  // not checked.
  void CheckStatement(const SourceText& source);
  // `source` has no further statement.
  void ScriptEnded(const SourceText& source);

  // The command or alias nearest to `word` within two edits (a swap of two
  // neighbouring letters is one), the first in the command table's order on
  // a tie, aliases after commands; empty when none is that near.
  static std::string_view NearestCommand(std::string_view word, const KCCommand& command);

  // Edits from `a` to `b` (insertions, deletions, substitutions and swaps of
  // neighbours), or `limit` + 1 when that is more.
  static size_t EditDistance(std::string_view a, std::string_view b, size_t limit);
  // Whether `word` is a name of ASCII letters, digits and '_' that does not
  // begin with a digit.
  static bool IsAsciiName(std::string_view word);

  // What a word read as a variable most likely meant: a name, a number in
  // full-width digits, or text in the full-width quotes of an input method.
  enum class WordShape { kName, kFullWidthNumber, kImeQuotes };
  static WordShape ShapeOf(std::string_view word);
  // A number written in full-width digits, in ASCII.
  static std::string AsciiDigits(std::string_view word);

 private:
  void CheckLeadingWord(const SourceText& source, const CommandElement& first, int32_t id);
  void CheckContinuedLines(const SourceText& source);
  void CheckStrings(const SourceText& source);
  void CheckDoubleByteCharacters(const SourceText& source);
  void CheckOperands(const SourceText& source, int32_t id);
  void CheckCondition(const SourceText& source, int32_t id);
  void WarnNoCreateWindow(const SourceText& source);
  // Whether `create_window` stands in `text` as a word of its own.
  static bool MentionsCreateWindow(std::string_view text);

  KCSystem& sys_;
  const KCCommand& command_;
  // Whether main.txt has been looked at for create_window, and found
  // without it (no-create-window has then been said).
  bool window_checked_ = false;
  bool window_missing_ = false;
};

}  // namespace kv
