// loop / loop_exit / loop_end: a conditional jump at the top leaves the loop
// when the condition is false, an unconditional backward jump at the bottom
// returns to it, and every loop_exit is a forward jump patched by loop_end.
#include "compile/func_set.h"
#include "compile/statement_handlers.h"
#include "context/kc_system.h"

namespace kv {
namespace {

constexpr std::string_view kMsgLoopExitNoLoop = "loop_exit に対応する \"%s\" が見つかりませんでした\n";
constexpr std::string_view kMsgLoopEndNoLoop = "loop_end に対応する \"%s\" が見つかりませんでした\n";
constexpr std::string_view kMsgNoLoopStart = "ReadCmdLoopEnd(1)";
constexpr std::string_view kNoteCloseInnerBlock =
    "%d 行目で開始した \"%s\" のブロックを loop_end より前に閉じてください\n";
constexpr std::string_view kMsgLoopExitPatch = "ReadCmdLoopEnd(6)";
constexpr std::string_view kMsgConditionPatch = "ReadCmdLoopEnd(7)";
constexpr const char* kLoop = "loop";

}  // namespace

bool StatementHandlers::Loop() {
  if (!ExpectParamCount(1)) return false;
  Push(BlockRecord{BlkLoopStart, 0, sys_.script.itemPosition, 0});
  return OutIfCmd(BlockRecord{BlkLoopCondition, 0, 0, 0});
}

bool StatementHandlers::LoopExit() {
  if (!ExpectParamCount(0)) return false;
  if (command_.BlockDepth() == 0) {
    sys_.log.Error(kMsgLoopExitNoLoop, {kLoop});
    return false;
  }
  BlockRecord exit{BlkLoopExit, 0, 0, 0};
  if (!OutSysGotoCmd(&exit)) return false;
  Push(exit);
  return true;
}

bool StatementHandlers::ReadCmdLoopEnd() {
  if (!ExpectParamCount(0)) return false;
  BlockRecord condition;
  std::vector<BlockRecord> set_aside;
  if (!FindBlock(&condition, &set_aside)) {
    sys_.log.Error(kMsgLoopEndNoLoop, {kLoop});
    return false;
  }
  // The opener is taken as the loop's condition jump; any opener without a
  // conditional jump is refused, since patching it would overwrite the start
  // of the object. An if left open inside the loop is found by the check of
  // the start marker below it.
  if ((condition.flags & (BlkLoopCondition | BlkIf)) == 0) {
    Restore(condition, set_aside);
    sys_.log.Error(kMsgLoopEndNoLoop, {kLoop});
    return false;
  }
  if (command_.BlockDepth() == 0 || (command_.TopBlock().flags & BlkLoopStart) == 0) {
    Restore(condition, set_aside);
    sys_.log.InternalError(kMsgNoLoopStart);
    // The author's mistake: a block opened after the loop (or with no loop
    // at all) is still open.
    sys_.log.Note(kNoteCloseInnerBlock,
                  {static_cast<int32_t>(condition.line), OpeningCommand(condition)});
    return false;
  }
  const BlockRecord start = command_.PopBlock();

  // Backward jump to the conditional jump at the top.
  if (!funcs_.OutCmdName(CmdSysGoto, "ReadCmdLoopEnd(2)")) return false;
  if (!funcs_.OutChar(1, "ReadCmdLoopEnd(3)")) return false;
  if (!funcs_.OutChar(1, "ReadCmdLoopEnd(4)")) return false;
  funcs_.CommitEntries();
  uint32_t unused = 0;
  if (!funcs_.OutJumpDistance(static_cast<int32_t>(start.baseIndex - sys_.script.itemPosition),
                              "ReadCmdLoopEnd(5)", &unused)) {
    return false;
  }

  // The exits land just after the backward jump; pending function exits stay
  // for their function.
  if (!PatchPendingExits(set_aside, BlkLoopExit, kMsgLoopExitPatch)) return false;

  if (!SetOffset(condition.patchPos, condition.baseIndex)) {
    sys_.log.InternalError(kMsgConditionPatch);
    return false;
  }
  return true;
}

}  // namespace kv
