// The jump machinery shared by the block statements (finding the opener of a
// block, writing conditional and unconditional jumps, patching their
// distances) and the conditional statements if / elseif / else / endif.
//
// A jump's distance is relative: target index = the itemPosition just after
// the jump command + distance. Forward jumps are written with the
// placeholder -1 and patched in place when their target is reached.
#include <algorithm>

#include "compile/func_set.h"
#include "compile/statement_handlers.h"
#include "context/kc_system.h"
#include "source/tokenizer.h"

namespace kv {
namespace {

constexpr std::string_view kMsgElseIfNoIf = "elseif に対応する \"%s\" が見つかりませんでした\n";
constexpr std::string_view kMsgElseNoIf = "else に対応する \"%s\" が見つかりませんでした\n";
constexpr std::string_view kMsgEndIfNoIf = "endif に対応する \"%s\" が見つかりませんでした\n";
constexpr std::string_view kMsgElseTwice = "else は 2 回以上使用できません\n";
constexpr std::string_view kMsgElseIfAfterElse = "else の後に elseif は使用できません\n";
constexpr std::string_view kMsgBlockNotClosed = "\"%s\" のブロックが閉じられていません (%d 行目で開始)\n";
constexpr std::string_view kMsgSetOffsetNoObject = "SetOffset(1) 現在のオブジェクト取得に失敗\n";
constexpr const char* kIf = "if";

constexpr int32_t kPlaceholderDistance = -1;

// Records that belong to an if chain; only these may be closed by elseif,
// else and endif (the others carry no jump to patch).
constexpr uint32_t kIfChain = BlkIf | BlkElseIf | BlkElse | BlkIfEnd;

bool AnyBelow(const std::vector<BlockRecord>& blocks, size_t index, uint32_t flag) {
  for (size_t i = 0; i < index; ++i) {
    if (blocks[i].flags & flag) return true;
  }
  return false;
}

// Whether the block of record `index` is named by another record, so that
// each open block is reported once: a loop by its condition jump, an if chain
// with elseif or else by its bottom marker, a pending exit by the loop or
// function it leaves.
bool NamedByAnother(const std::vector<BlockRecord>& blocks, size_t index) {
  uint32_t flags = blocks[index].flags;
  if (flags & BlkLoopStart) {
    return index + 1 < blocks.size() && (blocks[index + 1].flags & BlkLoopCondition);
  }
  if (flags & (BlkElseIf | BlkElse)) return AnyBelow(blocks, index, BlkIfEnd);
  if (flags & BlkLoopExit) return AnyBelow(blocks, index, BlkLoopStart);
  if (flags & BlkFunctionExit) return AnyBelow(blocks, index, BlkFunction);
  return false;
}

constexpr std::string_view kBlockOpening = "block-opening";

}  // namespace

const char* StatementHandlers::OpeningCommand(const BlockRecord& record) {
  if (record.flags & (BlkLoopStart | BlkLoopCondition)) return "loop";
  if (record.flags & BlkIf) return kIf;
  if (record.flags & BlkIfEnd) return kIf;
  if (record.flags & BlkElseIf) return "elseif";
  if (record.flags & BlkElse) return "else";
  if (record.flags & BlkLoopExit) return "loop_exit";
  if (record.flags & BlkFunctionExit) return "function_exit";
  if (record.flags & BlkFunction) return "function";
  if (record.flags & BlkVoid) return "void";
  if (record.flags & BlkDebugOnly) return "debug_only";
  if (record.flags & BlkReleaseOnly) return "release_only";
  return "?";
}

SourcePlace StatementHandlers::OpeningPlace(const BlockRecord& record) const {
  const SourceText* source = sys_.script.currentSource;
  if (source == nullptr) return {};
  return {source->path, static_cast<int32_t>(record.line),
          record.column != 0 ? record.column : source->ColumnAt(0)};
}

StatementHandlers::StatementHandlers(KCSystem& sys, KCCommand& command, KCFuncSet& funcs)
    : sys_(sys), command_(command), funcs_(funcs) {}

// Whether `opener`, just taken off the stack by FindBlock, belongs to an if
// chain (a loop's condition jump is left to loop_end).
bool StatementHandlers::IsIfChainOpener(const BlockRecord& opener) const {
  return (opener.flags & kIfChain) != 0;
}

void StatementHandlers::Push(BlockRecord record) {
  const SourceText* source = sys_.script.currentSource;
  if (source != nullptr && source->statementLine > 0) {
    record.line = static_cast<uint32_t>(source->statementLine);
    record.column = source->ColumnAt(source->statementOffset);
  }
  command_.PushBlock(record);
}

void StatementHandlers::PushBack(const std::vector<BlockRecord>& records) {
  for (const BlockRecord& record : records) command_.PushBlock(record);
}

void StatementHandlers::Restore(const BlockRecord& opener,
                                const std::vector<BlockRecord>& set_aside) {
  command_.PushBlock(opener);
  PushBack(set_aside);
}

bool StatementHandlers::ExpectParamCount(uint32_t count) {
  if (command_.GetParamCount() == count) return true;
  funcs_.WrongParamCount(command_.StatementId(), command_.GetParamCount(),
                         static_cast<int32_t>(count), static_cast<int32_t>(count));
  return false;
}

const CommandElement* StatementHandlers::SingleElement(uint32_t parameter) {
  if (command_.GetElemSize(parameter) != 1) {
    // A name written as several elements ("function a b;"): the second one
    // is the first too many. A missing parameter has been reported by
    // GetElemSize.
    const CommandElement* second = command_.ElementAt(parameter, 1);
    if (second != nullptr) {
      funcs_.SyntaxErrorAt(*second);
    } else if (parameter < command_.GetParamCount()) {
      sys_.log.Error(kMsgSyntaxError);  // an empty parameter ("new_command a,;")
    }
    return nullptr;
  }
  return command_.ElementAt(parameter, 0);
}

bool StatementHandlers::FindBlock(BlockRecord* opener, std::vector<BlockRecord>* set_aside) {
  std::vector<BlockRecord> taken;  // pending exit jumps, nearest the top first
  while (command_.BlockDepth() > 0) {
    const BlockRecord record = command_.PopBlock();
    if (record.flags & (BlkLoopExit | BlkFunctionExit)) {
      taken.push_back(record);
      continue;
    }
    *opener = record;
    std::reverse(taken.begin(), taken.end());  // stack order, the deepest first
    if (set_aside != nullptr) {
      *set_aside = std::move(taken);
    } else {
      PushBack(taken);
    }
    return true;
  }
  // No opener: the pending jumps go back, so their own closers (or the
  // end-of-script check) still find them.
  std::reverse(taken.begin(), taken.end());
  PushBack(taken);
  return false;
}

bool StatementHandlers::SetOffset(uint32_t patch_pos, uint32_t base_index) {
  if (sys_.script.currentObject == nullptr) {
    sys_.log.InternalError(kMsgSetOffsetNoObject);
    return false;
  }
  return funcs_.PatchJump(patch_pos, base_index, "SetOffset(3)");
}

bool StatementHandlers::OutIfCmd(BlockRecord record) {
  if (!funcs_.OutCmdName(cmd::kIf, "OutIfCmd(1)")) return false;
  if (!funcs_.OutChar(2, "OutIfCmd(2)")) return false;
  if (!funcs_.Condition(nullptr, 0, nullptr)) return false;
  if (!funcs_.OutChar(1, "OutIfCmd(3)")) return false;
  funcs_.CommitEntries();
  record.baseIndex = sys_.script.itemPosition;
  if (!funcs_.OutJumpDistance(kPlaceholderDistance, "OutIfCmd(5)", &record.patchPos)) return false;
  Push(record);
  return true;
}

bool StatementHandlers::OutSysGotoCmd(BlockRecord* record) {
  if (!funcs_.OutCmdName(CmdSysGoto, "OutSysGotoCmd(1)")) return false;
  if (!funcs_.OutChar(1, "OutSysGotoCmd(2)")) return false;
  if (!funcs_.OutChar(1, "OutSysGotoCmd(3)")) return false;
  funcs_.CommitEntries();
  record->baseIndex = sys_.script.itemPosition;
  return funcs_.OutJumpDistance(kPlaceholderDistance, "OutSysGotoCmd(5)", &record->patchPos);
}

bool StatementHandlers::PatchPendingExits(const std::vector<BlockRecord>& set_aside,
                                          uint32_t exit_flag, std::string_view failure) {
  std::vector<BlockRecord> kept;
  for (const BlockRecord& record : set_aside) {
    if ((record.flags & exit_flag) == 0) {
      kept.push_back(record);
    } else if (!SetOffset(record.patchPos, record.baseIndex)) {
      sys_.log.InternalError(failure);
      return false;
    }
  }
  PushBack(kept);
  return true;
}

bool StatementHandlers::If() {
  if (!ExpectParamCount(1)) return false;
  return OutIfCmd(BlockRecord{BlkIf, 0, 0, 0});
}

bool StatementHandlers::ElseIf() {
  if (!ExpectParamCount(1)) return false;
  BlockRecord opener;
  std::vector<BlockRecord> set_aside;
  if (!FindBlock(&opener, &set_aside)) {
    sys_.log.Error(kMsgElseIfNoIf, {kIf});
    return false;
  }
  if (!IsIfChainOpener(opener)) {
    Restore(opener, set_aside);
    sys_.log.Error(kMsgElseIfNoIf, {kIf});
    return false;
  }
  if (opener.flags & BlkElse) {
    Restore(opener, set_aside);
    sys_.log.Error(kMsgElseIfAfterElse);
    return false;
  }
  PushBack(set_aside);
  // The first elseif of a chain leaves the marker that ends endif's walk.
  if (opener.flags & BlkIf) {
    command_.PushBlock(BlockRecord{BlkIfEnd, opener.patchPos, opener.baseIndex, opener.line, opener.column});
  }
  // Exit jump of the previous branch; the previous condition's false branch
  // lands just after it, on the new condition.
  BlockRecord exit{BlkElseIf, 0, 0, 0};
  if (!OutSysGotoCmd(&exit)) return false;
  if (!SetOffset(opener.patchPos, opener.baseIndex)) return false;
  Push(exit);
  return OutIfCmd(BlockRecord{BlkElseIf, 0, 0, 0});
}

bool StatementHandlers::Else() {
  BlockRecord opener;
  std::vector<BlockRecord> set_aside;
  if (!FindBlock(&opener, &set_aside)) {
    sys_.log.Error(kMsgElseNoIf, {kIf});
    return false;
  }
  if (!IsIfChainOpener(opener)) {
    Restore(opener, set_aside);
    sys_.log.Error(kMsgElseNoIf, {kIf});
    return false;
  }
  if (opener.flags & BlkElse) {
    Restore(opener, set_aside);
    sys_.log.Error(kMsgElseTwice);
    return false;
  }
  PushBack(set_aside);
  if (opener.flags & BlkIf) {
    command_.PushBlock(BlockRecord{BlkIfEnd, opener.patchPos, opener.baseIndex, opener.line, opener.column});
  }
  BlockRecord exit{BlkElse, 0, 0, 0};
  if (!OutSysGotoCmd(&exit)) return false;
  if (!SetOffset(opener.patchPos, opener.baseIndex)) return false;
  Push(exit);
  return true;
}

bool StatementHandlers::EndIf() {
  if (!ExpectParamCount(0)) return false;
  while (command_.BlockDepth() > 0) {
    BlockRecord opener;
    std::vector<BlockRecord> set_aside;
    if (!FindBlock(&opener, &set_aside)) break;
    if (!IsIfChainOpener(opener)) {
      Restore(opener, set_aside);
      break;
    }
    PushBack(set_aside);
    if (opener.flags & BlkIfEnd) return true;  // its jump was patched before
    if (!SetOffset(opener.patchPos, opener.baseIndex)) return false;
    if (opener.flags & BlkIf) return true;  // a chain without elseif or else
  }
  sys_.log.Error(kMsgEndIfNoIf, {kIf});
  return false;
}

void StatementHandlers::CloseOpenBlocks() {
  const std::vector<BlockRecord>& blocks = command_.Blocks();
  for (size_t i = blocks.size(); i-- > 0;) {
    if (NamedByAnother(blocks, i)) continue;
    // Reported where the script ends (or was abandoned).
    const RelatedPlace opening{OpeningPlace(blocks[i]), kBlockOpening};
    const SourceText* source = sys_.script.currentSource;
    sys_.log.ErrorAt(source != nullptr ? Diagnostics::StatementPlace(*source) : SourcePlace{},
                     kMsgBlockNotClosed,
                     {OpeningCommand(blocks[i]), static_cast<int32_t>(blocks[i].line)},
                     {{}, std::span<const RelatedPlace>(&opening, 1)});
  }
  command_.ClearBlocks();
}

}  // namespace kv
