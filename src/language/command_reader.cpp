#include "language/command_reader.h"

#include <string>

#include "compile/func_set.h"
#include "compile/statement_handlers.h"
#include "driver/kc_system.h"
#include "language/kc_command.h"
#include "source/tokenizer.h"

namespace kv {

namespace {

constexpr char kErrorLimitReached[] = "エラー数が%dを超えたのでコンバートを中止します\n";
constexpr char kErrorMarker[] = "error";
constexpr char kErrorMarkerContext[] = "KCCommand::ReadCommand(1) エラー文字列出力に失敗\n";
constexpr char kNameFetchFailed[] = "KCCommand::ReadCommand(1) コマンド名取得に失敗\n";
constexpr char kUnknownCommand[] = "KCCommand::ReadCommand(7) \"%s\" 未登録コマンド\n";
constexpr char kDebugCommandDropped[] =
    "デバッグコマンドはコンバート対象外です。自動的に除外されます\n";

constexpr char kGenericContext[] = "ReadCommand(3)";
constexpr char kEndContext[] = "ReadCommand(4)";
constexpr char kCalcContext[] = "ReadCommand(5)";
constexpr char kTextContext[] = "ReadCommand(6)";

}  // namespace

CommandReader::CommandReader(KCSystem& sys, KCCommand& command, KCFuncSet& funcs,
                             StatementHandlers& handlers)
    : sys_(sys), command_(command), funcs_(funcs), handlers_(handlers) {}

int32_t CommandReader::ReadCommand(KCFile* source) {
  const int32_t errors_before = sys_.log.errorCount;
  const int32_t result = ReadAndDispatch(source);
  // Every failed statement tells why: a handler that fails without a message
  // of its own would otherwise drop the statement silently (main phase) or end
  // the setup phase with a partial script and no error counted.
  if (result == CmdInvalid && sys_.log.errorCount == errors_before) {
    DebugCheck(false, "a statement failed without telling why");
    sys_.log.Error(kMsgSyntaxError);
  }
  return result;
}

int32_t CommandReader::ReadAndDispatch(KCFile* source) {
  if (sys_.log.errorsSinceLimit >= Diagnostics::kErrorLimit) {
    sys_.log.Message(kErrorLimitReached, {Diagnostics::kErrorLimit});
    sys_.log.errorsSinceLimit = 0;
    if (!funcs_.OutString(kErrorMarker, kErrorMarkerContext)) return CmdInvalid;
    // Abandoning a script is not a statement: an open void or debug_only
    // block does not stop the switch to the next script.
    return FinishScript(true);
  }

  // Without a source there is nothing left to read.
  if (source == nullptr) return cmd::kEnd;

  switch (ReadStatement(sys_, command_, *source)) {
    case StatementEnd:
      return FinishScript(false);
    case StatementSyntaxError:
      // Reported by the tokenizer; the next call reads on from where it
      // stopped, and a repeated error runs into the error limit.
      return CmdInvalid;
    default:
      break;
  }

  const CommandElement* first = command_.ElementAt(0, 0);
  if (first == nullptr) {
    CommandElement unused;
    command_.GetElement(0, 0, &unused);  // reports why
    sys_.log.InternalError(kNameFetchFailed);
    return CmdInvalid;
  }
  std::string_view word = first->text;
  int32_t id;
  if (first->kind & 0x10) {
    id = CmdLabel;
  } else {
    id = command_.GetCommandId(word);
    if (id != CmdInvalid) {
      // The command id replaces the word's element. Dispatch quotes the word
      // only for an id outside the table, so only such a word is kept.
      if (id < 0 || id >= kCommandCount) {
        leading_word_.assign(word);
        word = leading_word_;
      }
      command_.DeleteElement();
    }
  }

  // Statements inside a void or debug_only block are skipped whole, whatever
  // they are, until the block's closer.
  if (command_.BlockDepth() != 0) {
    const uint32_t flags = command_.TopBlock().flags;
    if ((flags & BlkVoid) && id != cmd::kVoidEnd) return CmdDone;
    if ((flags & BlkDebugOnly) && id != cmd::kDebugOnlyEnd) return CmdDone;
  }

  return Dispatch(id, word) ? CmdDone : CmdInvalid;
}

int32_t CommandReader::FinishScript(bool abandoned) {
  KCFile* const ended = sys_.currentSource;
  bool written = true;
  if (!abandoned) {
    // The end command is no code entry: itemPosition stays as it is.
    const ParamCount count = command_.GetParamCountEntry(cmd::kEnd);
    written = funcs_.OutCmdName(cmd::kEnd, kEndContext, count.min, count.max);
  }
  // Reported while the ended script is still current, so the messages carry
  // its path; the next script starts with an empty block stack.
  handlers_.CloseOpenBlocks();
  if (ended != nullptr) {
    finished_sources_.insert(ended);
    // An ended source is never read again: its text goes now, so the objects
    // still to be compiled reuse its memory. The file itself (its path names
    // it in messages) is released with the others at the finish stage.
    std::string().swap(ended->contents);
    ended->position = 0;
  }

  // With no script left, conversion is over even when the end command failed
  // (that failure has been reported): another call would only read the ended
  // source again. A script whose object could not take its end command still
  // looks unconverted and would be chosen again and again, so it ends
  // conversion as well.
  if (!sys_.NextScript() || finished_sources_.count(sys_.currentSource) != 0) return cmd::kEnd;
  return written ? CmdEndOfFile : CmdInvalid;
}

bool CommandReader::Dispatch(int32_t id, std::string_view word) {
  switch (id) {
    case cmd::kValue:
    case cmd::kGlobalValue:
    case cmd::kLocalValue:
    case cmd::kString:
    case cmd::kGlobalString:
    case cmd::kLocalString:
      return handlers_.NGLVariable(id);

    case cmd::kIf:
      if (command_.GetParamCount() != 1) {
        sys_.log.Error(kMsgWrongParamCount);
        return false;
      }
      return handlers_.OutIfCmd(BlockRecord{BlkIf, 0, 0, 0});
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
        sys_.log.Error(kMsgWrongParamCount);
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
        if (sys_.checkOnly && (id == cmd::kFunctionCall || id == cmd::kGoto)) RecordTarget(id);
        const ParamCount count = command_.GetParamCountEntry(id);
        return funcs_.OutCommand(id, kGenericContext, count.min, count.max);
      }
      sys_.log.InternalError(kUnknownCommand, {word});
      return false;
  }
}

void CommandReader::RecordTarget(int32_t id) {
  // Only a target written as one plain word names a function or label;
  // anything else is computed when the game runs.
  const CommandElement* target = command_.ElementAt(0, 0);
  if (target == nullptr || target->kind != ElemWord || command_.ElementAt(0, 1) != nullptr) return;
  sys_.RecordNameUse(id == cmd::kGoto ? NameUse::kGoto : NameUse::kFunctionCall, target->text);
}

void CommandReader::RunMainPhase() {
  do {
    if (ReadCommand(sys_.currentSource) == cmd::kEnd) {
      sys_.converting = false;
      return;
    }
  } while (sys_.converting);
}

}  // namespace kv
