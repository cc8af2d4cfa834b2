// Command reading: compiles one statement per call, resolving its leading
// word and dispatching it to a statement handler or the generic encoder, and
// switches scripts at their end and at the error limit.
#pragma once

#include <cstdint>

namespace kv {

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
  int32_t Dispatch(int32_t id, int32_t result);

  KCSystem& sys_;
  KCCommand& command_;
  KCFuncSet& funcs_;
  StatementHandlers& handlers_;
};

}  // namespace kv
