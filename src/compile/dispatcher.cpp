#include "compile/dispatcher.h"

#include "compile/func_set.h"
#include "compile/statement_handlers.h"
#include "context/kc_system.h"
#include "language/kc_command.h"

namespace kv {
namespace {

constexpr char kErrorMarkerContext[] = "KCCommand::ReadCommand(1) エラー文字列出力に失敗\n";
constexpr char kUnknownCommand[] = "KCCommand::ReadCommand(7) \"%s\" 未登録コマンド\n";
constexpr char kDebugCommandDropped[] =
    "デバッグコマンドはコンバート対象外です。自動的に除外されます\n";

constexpr char kGenericContext[] = "ReadCommand(3)";
constexpr char kEndContext[] = "ReadCommand(4)";
constexpr char kCalcContext[] = "ReadCommand(5)";
constexpr char kTextContext[] = "ReadCommand(6)";

}  // namespace

bool Dispatcher::Dispatch(int32_t id, std::string_view word) {
  switch (id) {
    case cmd::kValue:
    case cmd::kGlobalValue:
    case cmd::kLocalValue:
    case cmd::kString:
    case cmd::kGlobalString:
    case cmd::kLocalString:
      return handlers_.NGLVariable(id);

    case cmd::kIf:
      return handlers_.If();
    case cmd::kElseIf:
      return handlers_.ElseIf();
    case cmd::kElse:
      // An empty block stack is reported by the handler like any other
      // else without its if.
      return handlers_.Else();
    case cmd::kEndIf:
      return handlers_.EndIf();

    case cmd::kLoop:
      return handlers_.Loop();
    case cmd::kLoopExit:
      return handlers_.LoopExit();
    case cmd::kLoopEnd:
      return handlers_.ReadCmdLoopEnd();

    case cmd::kFunctionDeclaration:
      // Declarations only inform the script's author; nothing is written.
      if (command_.GetParamCount() != 2) {
        funcs_.WrongParamCount(id, command_.GetParamCount(), 2, 2);
        return false;
      }
      return true;
    case cmd::kFunction:
      return handlers_.ReadCmdFunction();
    case cmd::kFunctionExit:
      return handlers_.FunctionExit();
    case cmd::kFunctionEnd:
      return handlers_.ReadCmdFunctionEnd();

    case cmd::kCreateWindow:
      return handlers_.ReadCmdCreateWindow();
    case cmd::kWindowSize:
      return handlers_.ReadCmdWindowSize();
    case cmd::kNewCommand:
      return handlers_.NewCommand();
    case cmd::kVoid:
      return handlers_.Void();
    case cmd::kVoidEnd:
      return handlers_.VoidEnd();

    case cmd::kClearNewCommand:
    case cmd::kDebugErrorIgnore:
    case cmd::kDebugErrorStop:
    case cmd::kDebugMessage:
      sys_.log.Warning(kDebugCommandDropped);
      return true;

    case cmd::kDebugOnly:
      return handlers_.DebugOnly();
    case cmd::kDebugOnlyEnd:
      return handlers_.DebugOnlyEnd();
    case cmd::kReleaseOnly:
      return handlers_.ReleaseOnly();
    case cmd::kReleaseOnlyEnd:
      return handlers_.ReleaseOnlyEnd();

    case CmdLabel:
      return handlers_.Label();

    case CmdInvalid: {
      // Not a command: one parameter of several elements is an expression
      // statement, anything else a line of text. The leading word stays.
      if (command_.GetParamCount() == 1 && command_.GetElemSize(0) > 1) {
        const ParamCount count = command_.GetParamCountEntry(cmd::kCalc);
        return funcs_.OutCommand(cmd::kCalc, kCalcContext, count.min, count.max);
      }
      const ParamCount count = command_.GetParamCountEntry(cmd::kText);
      return funcs_.OutCommand(CmdImplicitText, kTextContext, count.min, count.max);
    }

    default:
      if (id >= 0 && id < kCommandCount) {
        const ParamCount count = command_.GetParamCountEntry(id);
        return funcs_.OutCommand(id, kGenericContext, count.min, count.max);
      }
      sys_.log.InternalError(kUnknownCommand, {word});
      return false;
  }
}

bool Dispatcher::WriteEndCommand() {
  // The end command is no code entry: itemPosition stays as it is.
  const ParamCount count = command_.GetParamCountEntry(cmd::kEnd);
  return funcs_.OutCmdName(cmd::kEnd, kEndContext, count.min, count.max);
}

bool Dispatcher::WriteErrorMarker() { return funcs_.OutString(kErrorMarker, kErrorMarkerContext); }

void Dispatcher::CloseOpenBlocks() { handlers_.CloseOpenBlocks(); }

}  // namespace kv
