#include "language/command_reader.h"

#include <string>

#include "context/kc_system.h"
#include "language/kc_command.h"
#include "language/statement_lint.h"
#include "source/source_loader.h"
#include "source/tokenizer.h"

namespace kv {

namespace {

constexpr char kErrorLimitReached[] = "エラー数が%dを超えたのでコンバートを中止します\n";
constexpr char kNameFetchFailed[] = "KCCommand::ReadCommand(1) コマンド名取得に失敗\n";

}  // namespace

CommandReader::CommandReader(KCSystem& sys, KCCommand& command, StatementCompiler& compiler)
    : sys_(sys), command_(command), compiler_(compiler) {
  if (sys.options.checks.AnyStatementCheck()) lint_ = std::make_unique<StatementLint>(sys, command);
}

CommandReader::~CommandReader() = default;

int32_t CommandReader::ReadCommand(SourceText* source) {
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

int32_t CommandReader::ReadAndDispatch(SourceText* source) {
  if (sys_.log.errorsSinceLimit >= Diagnostics::kErrorLimit) {
    sys_.log.Message(kErrorLimitReached, {Diagnostics::kErrorLimit});
    sys_.log.errorsSinceLimit = 0;
    if (!compiler_.WriteErrorMarker()) return CmdInvalid;
    // Abandoning a script is not a statement: an open void or debug_only
    // block does not stop the switch to the next script.
    return FinishScript(true);
  }

  // Without a source there is nothing left to read.
  if (source == nullptr) return cmd::kEnd;

  source->DiscardTextBehind();
  switch (ReadStatement(sys_.log, command_.statement(), *source)) {
    case StatementEnd:
      if (lint_ != nullptr) lint_->ScriptEnded(*source);
      command_.SetStatementId(CmdEndOfFile);
      return FinishScript(false);
    case StatementSyntaxError:
      // Reported by the tokenizer; the next call reads on from where it
      // stopped, and a repeated error runs into the error limit.
      return CmdInvalid;
    default:
      break;
  }
  if (lint_ != nullptr) lint_->CheckStatement(*source);

  const CommandElement* first = command_.ElementAt(0, 0);
  if (first == nullptr) {
    CommandElement unused;
    command_.GetElement(0, 0, &unused);  // reports why
    sys_.log.InternalError(kNameFetchFailed);
    return CmdInvalid;
  }
  std::string_view word = first->text;
  const int32_t id = (first->kind & 0x10) ? CmdLabel : command_.GetCommandId(word);
  command_.SetStatementId(id);
  // Statements inside a void or debug_only block are skipped whole, whatever
  // they are, until the block's closer.
  if (command_.BlockDepth() != 0) {
    const uint32_t flags = command_.TopBlock().flags;
    if ((flags & BlkVoid) && id != cmd::kVoidEnd) return CmdDone;
    if ((flags & BlkDebugOnly) && id != cmd::kDebugOnlyEnd) return CmdDone;
  }
  if (observer_ != nullptr) observer_->OnStatement(*source, id, command_.statement());

  if (id != CmdLabel && id != CmdInvalid) {
    // The command id replaces the word's element. Dispatch quotes the word
    // only for an id outside the table, so only such a word is kept.
    if (id < 0 || id >= kCommandCount) {
      leading_word_.assign(word);
      word = leading_word_;
    }
    command_.DeleteElement();
  }
  return compiler_.Dispatch(id, word) ? CmdDone : CmdInvalid;
}

int32_t CommandReader::FinishScript(bool abandoned) {
  SourceText* const ended = sys_.script.currentSource;
  bool written = true;
  if (!abandoned) written = compiler_.WriteEndCommand();
  // Reported while the ended script is still current, so the messages carry
  // its path; the next script starts with an empty block stack.
  compiler_.CloseOpenBlocks();
  // Its code is complete: it moves out of the storage the next script uses.
  if (sys_.script.currentObject != nullptr && written) sys_.KeepCode(*sys_.script.currentObject);
  if (ended != nullptr) {
    finished_sources_.insert(ended);
    // An ended source is never read again: its text goes now, and the next
    // source is read into the same storage. The file itself (its path names
    // it in messages) is released with the others at the finish stage.
    SetSourceAside(sys_, *ended);
  }

  // With no script left, conversion is over even when the end command failed
  // (that failure has been reported): another call would only read the ended
  // source again. A script whose object could not take its end command still
  // looks unconverted and would be chosen again and again, so it ends
  // conversion as well.
  if (!NextScript(sys_) || finished_sources_.count(sys_.script.currentSource) != 0)
    return cmd::kEnd;
  if (observer_ != nullptr) observer_->OnScriptStart(*sys_.script.currentSource);
  return written ? CmdEndOfFile : CmdInvalid;
}

void CommandReader::RunMainPhase() {
  do {
    if (ReadCommand(sys_.script.currentSource) == cmd::kEnd) {
      sys_.script.converting = false;
      return;
    }
  } while (sys_.script.converting);
}

}  // namespace kv
