// The checks of a --check run that look at each statement as it is read:
// what compiles but is almost certainly not what its author meant (a
// misspelt command, a missing ';', a string left open, full-width
// punctuation, an else with a condition, a word cut by a double-byte
// character, a main.txt without create_window). It also keeps the file
// names that statements hold, for the check of the whole game (see
// driver/game_lint.h). A build makes none of these checks and creates no
// StatementLint.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

class KCCommand;
class KCFile;
class KCSystem;
struct CommandElement;

class StatementLint {
 public:
  StatementLint(KCSystem& sys, const KCCommand& command);

  // Checks the statement just read from `source`, before command reading
  // identifies it. Statements that a void or debug_only block skips are
  // not checked.
  void CheckStatement(const KCFile& source);
  // `source` has no further statement.
  void ScriptEnded(const KCFile& source);

  // The command or alias nearest to `word` within two edits (a swap of two
  // neighbouring letters is one), the first in the command table's order on
  // a tie, aliases after commands; empty when none is that near.
  static std::string_view NearestCommand(std::string_view word, const KCCommand& command);

 private:
  void CheckLeadingWord(const KCFile& source, const CommandElement& first, int32_t id);
  void CheckContinuedLines(const KCFile& source);
  void CheckStrings(const KCFile& source);
  void CheckDoubleByteCharacters(const KCFile& source);
  void KeepFileNames(int32_t id);
  bool NamesFile(std::string_view text) const;

  KCSystem& sys_;
  const KCCommand& command_;
  // Lower-case extensions of the four kinds of files, with their dot.
  std::vector<std::string> extensions_;
};

}  // namespace kv
