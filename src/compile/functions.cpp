// function / function_exit / function_end, void / void_end and new_command.
// A function's body is compiled in line; its name is recorded with the index
// of the body's first command. Every function_exit jumps to function_end.
#include "compile/func_set.h"
#include "compile/statement_handlers.h"
#include "context/kc_system.h"

namespace kv {
namespace {

constexpr std::string_view kMsgFunctionExitNoFunction =
    "function_exit に対応する \"%s\" が見つかりませんでした\n";
constexpr std::string_view kMsgFunctionEndNoFunction =
    "function_end に対応する \"%s\" が見つかりませんでした\n";
constexpr std::string_view kMsgVoidEndNoVoid = "void_end に対応する \"%s\" が見つかりませんでした\n";
constexpr std::string_view kMsgFunctionExitPatch = "ReadCmdFunctionEnd(1)";
constexpr std::string_view kMsgFunctionEndWrite = "ReadCmdFunctionEnd(3)";
constexpr const char* kFunction = "function";

}  // namespace

bool StatementHandlers::ReadCmdFunction() {
  if (!ExpectParamCount(1)) return false;
  const CommandElement* name = SingleElement(0);
  if (name == nullptr) return false;
  if (!funcs_.OutCmdName(cmd::kFunction, "ReadCmdFunction(1)")) return false;
  if (!funcs_.OutChar(0, "ReadCmdFunction(2)")) return false;
  funcs_.CommitEntries();
  sys_.AddFunction(name->text, name->offset);
  Push(BlockRecord{BlkFunction, 0, 0, 0});
  return true;
}

bool StatementHandlers::FunctionExit() {
  if (!ExpectParamCount(0)) return false;
  if (command_.BlockDepth() == 0) {
    sys_.log.Error(kMsgFunctionExitNoFunction, {kFunction});
    return false;
  }
  BlockRecord exit{BlkFunctionExit, 0, 0, 0};
  if (!OutSysGotoCmd(&exit)) return false;
  Push(exit);
  return true;
}

bool StatementHandlers::ReadCmdFunctionEnd() {
  if (!ExpectParamCount(0)) return false;
  BlockRecord opener;
  std::vector<BlockRecord> set_aside;
  if (!FindBlock(&opener, &set_aside)) {
    sys_.log.Error(kMsgFunctionEndNoFunction, {kFunction});
    return false;
  }
  if ((opener.flags & BlkFunction) == 0) {
    Restore(opener, set_aside);
    sys_.log.Error(kMsgFunctionEndNoFunction, {kFunction});
    return false;
  }
  // The exits land on the function_end command written below; pending loop
  // exits stay for their loop.
  if (!PatchPendingExits(set_aside, BlkFunctionExit, kMsgFunctionExitPatch)) return false;
  if (!funcs_.OutCommand(cmd::kFunctionEnd, "ReadCmdFunctionEnd(2)", 0, 0)) {
    sys_.log.InternalError(kMsgFunctionEndWrite);
    return false;
  }
  return true;
}

bool StatementHandlers::Void() {
  if (!ExpectParamCount(0)) return false;
  Push(BlockRecord{BlkVoid, 0, 0, 0});
  return true;
}

bool StatementHandlers::VoidEnd() {
  if (!ExpectParamCount(0)) return false;
  // A record of another block stays where it is, for its own closer.
  if (command_.BlockDepth() == 0 || (command_.TopBlock().flags & BlkVoid) == 0) {
    sys_.log.Error(kMsgVoidEndNoVoid, {"void"});
    return false;
  }
  command_.PopBlock();
  return true;
}

bool StatementHandlers::NewCommand() {
  if (!ExpectParamCount(2)) return false;
  const CommandElement* alias = SingleElement(0);
  if (alias == nullptr) return false;
  const CommandElement* target = SingleElement(1);
  if (target == nullptr) return false;
  return command_.AddAlias(target->text, alias->text);
}

}  // namespace kv
