// Command reading: compiles one statement per call, resolving its leading
// word and dispatching it to a statement handler or the generic encoder, and
// switches scripts at their end and at the error limit.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "language/name_index.h"

namespace kv {

class AliasReadObserver;
class KCCommand;
class SourceText;
class KCSystem;
class Statement;
class StatementLint;

// What command reading asks of the statement compiler, which stands on top
// of it: the compiled form of a statement and of a script's end.
class StatementCompiler {
 public:
  virtual ~StatementCompiler() = default;
  // Compiles the current statement identified as `id`; `word` is its leading
  // word, read only for an id outside the command table (a table id has had
  // the word's element removed). False when the statement failed.
  virtual bool Dispatch(int32_t id, std::string_view word) = 0;
  // The end command of a script that ended (no code entry).
  virtual bool WriteEndCommand() = 0;
  // The "error" marker of a script abandoned at the error limit.
  virtual bool WriteErrorMarker() = 0;
  // Reports every block still open as an error and empties the block stack.
  virtual void CloseOpenBlocks() = 0;
};

// Sees what command reading does, for those who want more of a script than
// its code (the language server): each statement handed to the compiler, and
// each script made current after the one before it ended.
class ReadingObserver {
 public:
  virtual ~ReadingObserver() = default;
  // `statement` is about to be compiled as `id` (a command id or CmdLabel or
  // CmdInvalid); it still holds its leading word as element 0 of parameter 0.
  virtual void OnStatement(const SourceText& source, int32_t id, const Statement& statement) = 0;
  // When WantsNames: what that statement defines and uses (see
  // name_index.h), right after OnStatement.
  // (Asked once, when the observer is set, as is ReadsTextBehind.)
  virtual bool WantsNames() const { return false; }
  virtual void OnNames(const SourceText& /*source*/, const std::vector<NameEntry>& /*names*/) {}
  // Whether it reads a script's text behind the statement being read (a
  // branch's condition, read when a jump in it needs it): the text is then
  // kept whole while the script is read, rather than given back as it goes.
  virtual bool ReadsTextBehind() const { return false; }
  // `source` has become current after the script before it ended or was
  // abandoned; nothing of it has been read yet.
  virtual void OnScriptStart(const SourceText& source) = 0;
  // What is told of each read of the aliases made so far (null: nothing).
  virtual AliasReadObserver* AliasReads() { return nullptr; }
};

class CommandReader {
 public:
  // Checks each statement with a StatementLint when the run's checks ask
  // for it.
  CommandReader(KCSystem& sys, KCCommand& command, StatementCompiler& compiler);
  ~CommandReader();

  void set_observer(ReadingObserver* observer);

  // Returns CmdDone (604), CmdEndOfFile (608), 442 (end: no script left) or
  // CmdInvalid (610, the statement failed).
  int32_t ReadCommand(SourceText* source);
  // Reads statements until the end code; clears `converting`.
  void RunMainPhase();

 private:
  // ReadCommand without the final check that a failure was reported.
  int32_t ReadAndDispatch(SourceText* source);
  // The current script has ended (its end command is written) or has been
  // abandoned at the error limit: closes its open blocks and makes the next
  // script current. Returns CmdEndOfFile, the end code when no script is
  // left, or CmdInvalid when the end command could not be written.
  int32_t FinishScript(bool abandoned);
  // After statement `id` of `source` failed: keeps a block opener that failed
  // as the likely first cause of the errors of its closers, and notes that
  // cause, or a string left open before, under the error of a closer.
  void NoteFirstCause(const SourceText& source, int32_t id);
  KCSystem& sys_;
  KCCommand& command_;
  StatementCompiler& compiler_;
  // Null in a build.
  std::unique_ptr<StatementLint> lint_;
  // The first block opener of the current script that failed (so opened no
  // block): its script, line and command.
  const SourceText* failed_opener_script_ = nullptr;
  int32_t failed_opener_line_ = 0;
  int32_t failed_opener_id_ = 0;
  // The leading word of a statement whose element is removed while Dispatch
  // may still quote it (kept from one statement to the next for its storage).
  std::string leading_word_;
  // Sources that have ended or were abandoned, never to be read again.
  std::set<const SourceText*> finished_sources_;
  ReadingObserver* observer_ = nullptr;
  // What the observer asks for, asked once when it is set.
  bool observer_wants_names_ = false;
  bool observer_reads_text_behind_ = false;
  std::vector<NameEntry> names_;  // of the statement read, kept for its storage
  // The records of the names for the checks of the whole game (in a check).
  NameUseRecorder records_;
};

}  // namespace kv
