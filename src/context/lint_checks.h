// The named checks of a --check run: what each warns of is told by the
// README. Every such warning ends with its check's name in brackets on the
// console, and --no-warn=NAME switches the check off.
#pragma once

#include <cstdint>
#include <string_view>

#include "context/diagnostics.h"

namespace kv {

enum class Check : uint8_t {
  // Found while a script is compiled, statement by statement.
  kUnknownCommand,
  kMissingSemicolon,
  kStringSpansLines,
  kFullWidthPunctuation,
  kElseWithCondition,
  kSplitWord,
  kNoCreateWindow,
  kImplicitMultiplication,
  kSetupPhaseCommand,
  kAssignmentInCondition,
  kCommandNameAsVariable,
  kUtf8Script,
  // Found when a script's comments are removed.
  kCommentInString,
  // Decided over the whole game, once every script has been read.
  kMissingFile,
  kDuplicateLabel,
  kDuplicateFunction,
  kUndefinedLabel,
  kUndefinedFunction,
  kUndeclaredVariable,
  kUsedBeforeDeclaration,
  kRedeclaredVariable,
  kUnreachedScript,
  kCount,
};

// The names, in the order of Check.
inline constexpr std::string_view kCheckNames[] = {
    "unknown-command", "missing-semicolon", "string-spans-lines", "full-width-punctuation",
    "else-with-condition", "split-word", "no-create-window", "implicit-multiplication",
    "setup-phase-command", "assignment-in-condition", "command-name-as-variable", "utf8-script",
    "comment-in-string", "missing-file", "duplicate-label", "duplicate-function", "undefined-label",
    "undefined-function", "undeclared-variable", "used-before-declaration", "redeclared-variable",
    "unreached-script",
};
static_assert(std::size(kCheckNames) == static_cast<size_t>(Check::kCount));

inline std::string_view CheckName(Check check) { return kCheckNames[static_cast<size_t>(check)]; }

// The details of a report that a check makes.
inline ReportDetails CheckDetails(Check check) { return {CheckName(check), {}}; }

// False when no check has that name.
inline bool FindCheck(std::string_view name, Check* check) {
  for (size_t i = 0; i < std::size(kCheckNames); ++i) {
    if (kCheckNames[i] != name) continue;
    *check = static_cast<Check>(i);
    return true;
  }
  return false;
}

// The checks a run makes: all of them in a check, less those switched off;
// none in a build.
class CheckSet {
 public:
  static CheckSet All() {
    CheckSet set;
    set.bits_ = Bit(Check::kCount) - 1;
    return set;
  }
  bool On(Check check) const { return (bits_ & Bit(check)) != 0; }
  void Remove(Check check) { bits_ &= ~Bit(check); }
  // Whether a check that looks at the statements as they are compiled is on
  // (missing-file, unreached-script and the checks of variables among them:
  // they read the file names and variable names that statements hold).
  bool AnyStatementCheck() const {
    const uint32_t statement_checks = (Bit(Check::kUtf8Script) - 1) | Bit(Check::kMissingFile) |
                                      Bit(Check::kUnreachedScript) | AnyVariableCheckBits();
    return (bits_ & statement_checks) != 0;
  }
  // Whether a check of the whole game's variables is on.
  bool AnyVariableCheck() const { return (bits_ & AnyVariableCheckBits()) != 0; }

 private:
  static uint32_t AnyVariableCheckBits() {
    return Bit(Check::kUndeclaredVariable) | Bit(Check::kUsedBeforeDeclaration) |
           Bit(Check::kRedeclaredVariable);
  }
  static uint32_t Bit(Check check) { return uint32_t{1} << static_cast<int>(check); }
  uint32_t bits_ = 0;
};

}  // namespace kv
