// Command reading: compiles one statement per call, resolving its leading
// word and dispatching it to a statement handler or the generic encoder, and
// switches scripts at their end and at the error limit.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>

namespace kv {

struct CommandElement;
class KCCommand;
class KCFile;
class KCFuncSet;
class KCSystem;
class StatementHandlers;

class CommandReader {
 public:
  CommandReader(KCSystem& sys, KCCommand& command, KCFuncSet& funcs, StatementHandlers& handlers);

  // Returns CmdDone (604), CmdEndOfFile (608), 442 (end: no script left) or
  // CmdInvalid (610, the statement failed).
  int32_t ReadCommand(KCFile* source);
  // Reads statements until the end code; clears `converting`.
  void RunMainPhase();

 private:
  // ReadCommand without the final check that a failure was reported.
  int32_t ReadAndDispatch(KCFile* source);
  // The current script has ended (its end command is written) or has been
  // abandoned at the error limit: closes its open blocks and makes the next
  // script current. Returns CmdEndOfFile, the end code when no script is
  // left, or CmdInvalid when the end command could not be written.
  int32_t FinishScript(bool abandoned);
  // Compiles the statement identified as `id`; `word` is its leading word,
  // read only for an id outside the command table (a table id has had the
  // word's element removed).
  bool Dispatch(int32_t id, std::string_view word);
  // Keeps the target of a function_call or goto for the cross-reference check.
  void RecordTarget(int32_t id);

  KCSystem& sys_;
  KCCommand& command_;
  KCFuncSet& funcs_;
  StatementHandlers& handlers_;
  // The leading word of a statement whose element is removed while Dispatch
  // may still quote it (kept from one statement to the next for its storage).
  std::string leading_word_;
  // Sources that have ended or were abandoned, never to be read again.
  std::set<const KCFile*> finished_sources_;
};

}  // namespace kv
