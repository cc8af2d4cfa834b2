// The handlers of the statements that are not compiled by the generic
// encoder: block statements with their jumps, declarations, labels, aliases
// and the setup commands. Each reads the current statement and returns
// success; a failure has been reported by the time it returns.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "context/diagnostics.h"
#include "language/kc_command.h"

namespace kv {

class KCFuncSet;
class KCSystem;

class StatementHandlers {
 public:
  StatementHandlers(KCSystem& sys, KCCommand& command, KCFuncSet& funcs);

  // Jump machinery shared by the block statements.
  bool FindBlock(BlockRecord* opener, std::vector<BlockRecord>* set_aside);
  bool SetOffset(uint32_t patch_pos, uint32_t base_index);
  bool OutIfCmd(BlockRecord record);
  bool OutSysGotoCmd(BlockRecord* record);

  bool If();
  bool ElseIf();
  bool Else();
  bool EndIf();
  bool Loop();
  bool LoopExit();
  bool ReadCmdLoopEnd();
  bool ReadCmdFunction();
  bool FunctionExit();
  bool ReadCmdFunctionEnd();
  bool Void();
  bool VoidEnd();
  bool NewCommand();
  bool DebugOnly();
  bool DebugOnlyEnd();
  bool ReleaseOnly();
  bool ReleaseOnlyEnd();
  bool Label();
  bool ReadCmdCreateWindow();
  bool ReadCmdWindowSize();
  bool NGLVariable(int32_t id);

  // At the end of a script (or when it is abandoned): reports every block
  // still open as an error naming its opening command and line, and empties
  // the block stack so nothing leaks into the next script.
  void CloseOpenBlocks();

 private:
  // The statement that opened the block a record stands for, and its place.
  static const char* OpeningCommand(const BlockRecord& record);
  SourcePlace OpeningPlace(const BlockRecord& record) const;
  // Whether an opener found by FindBlock belongs to an if chain.
  bool IsIfChainOpener(const BlockRecord& opener) const;
  // Patches the pending exits of kind `exit_flag` among `set_aside` (as
  // FindBlock set them aside) to land here; the others go back on the stack
  // in their order. Reports `failure` when a patch fails.
  bool PatchPendingExits(const std::vector<BlockRecord>& set_aside, uint32_t exit_flag,
                         std::string_view failure);
  // Pushes a record that opens here, stamped with the current source line.
  void Push(BlockRecord record);
  // Pushes records back in the order given (the deepest first).
  void PushBack(const std::vector<BlockRecord>& records);
  // Undoes a FindBlock whose opener does not match the closer.
  void Restore(const BlockRecord& opener, const std::vector<BlockRecord>& set_aside);
  // Reports the parameter-count error unless the statement has `count` parameters.
  bool ExpectParamCount(uint32_t count);
  // The one element of a parameter that must hold exactly one; null, without
  // a message of its own, when it holds another number of elements.
  const CommandElement* SingleElement(uint32_t parameter);

  KCSystem& sys_;
  KCCommand& command_;
  KCFuncSet& funcs_;
};

}  // namespace kv
