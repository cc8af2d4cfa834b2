#include "language/command_reader.h"

#include <algorithm>
#include <string>

#include "context/kc_system.h"
#include "language/command_table.h"
#include "language/kc_command.h"
#include "language/statement_lint.h"
#include "source/source_loader.h"
#include "source/tokenizer.h"

namespace kv {

namespace {

constexpr char kErrorLimitReached[] = "エラー数が%dを超えたのでコンバートを中止します\n";
constexpr char kNameFetchFailed[] = "KCCommand::ReadCommand(1) コマンド名取得に失敗\n";
constexpr std::string_view kNoteColonEndsLabel =
    "\"%s:\" の : でラベルの定義として文が終わり、; だけの空の文が残っています。"
    "ラベルの名前の後に : を書くのは、ラベルを定義する行だけです\n";
constexpr std::string_view kNoteEmptyStatement = "; の前に文がありません (; が余分です)\n";

constexpr std::string_view kNoteAfterFailedOpener =
    "%d 行目の \"%s\" がエラーになったため、そのブロックは開かれていません (先にそのエラーを直してください)\n";
constexpr std::string_view kNoteAfterOpenString =
    "%d 行目で始まった文字列が閉じられず、その後の文を含んで続いている可能性があります"
    " (閉じる \" または ' を確かめてください)\n";

// The opener of the block that a closer (or else, elseif) closes; -1 for
// other commands.
int32_t OpenerOf(int32_t id) {
  switch (id) {
    case cmd::kElseIf: case cmd::kElse: case cmd::kEndIf: return cmd::kIf;
    case cmd::kLoopEnd: return cmd::kLoop;
    case cmd::kFunctionEnd: return cmd::kFunction;
    case cmd::kVoidEnd: return cmd::kVoid;
    case cmd::kDebugOnlyEnd: return cmd::kDebugOnly;
    default: return -1;
  }
}

// After an empty statement (a ';' alone): a ':' before it on its line ended
// the statement before as a label (goto chapter1:;).
void NoteEmptyStatement(Diagnostics& log, const SourceText& source) {
  const std::string_view text = source.contents;
  size_t at = std::min<size_t>(source.statementOffset, text.size());
  while (at > 0 && (text[at - 1] == ' ' || text[at - 1] == '\t' || text[at - 1] == '\r')) --at;
  if (at > 0 && text[at - 1] == ':') {
    const size_t colon = at - 1;
    size_t start = colon;
    while (start > 0 && kWordStops.find(text[start - 1]) == std::string_view::npos) --start;
    // A word's first byte: a string or a number before it is no label.
    const bool word = start < colon && text[start] != '"' && text[start] != '\'' &&
                      (text[start] < '0' || text[start] > '9');
    if (word) {
      log.Note(kNoteColonEndsLabel, {text.substr(start, colon - start)});
      return;
    }
  }
  log.Note(kNoteEmptyStatement);
}

}  // namespace

CommandReader::CommandReader(KCSystem& sys, KCCommand& command, StatementCompiler& compiler)
    : sys_(sys), command_(command), compiler_(compiler), records_(sys) {
  if (sys.options.checks.AnyStatementCheck()) lint_ = std::make_unique<StatementLint>(sys, command);
}

CommandReader::~CommandReader() = default;

void CommandReader::set_observer(ReadingObserver* observer) {
  observer_ = observer;
  observer_wants_names_ = observer != nullptr && observer->WantsNames();
  observer_reads_text_behind_ = observer != nullptr && observer->ReadsTextBehind();
  command_.set_alias_observer(observer != nullptr ? observer->AliasReads() : nullptr);
}

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

  if (!observer_reads_text_behind_) source->DiscardTextBehind();
  sys_.DiscardCodeBehind();
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
    NoteEmptyStatement(sys_.log, *source);
    return CmdInvalid;
  }
  std::string_view word = first->text;
  int32_t id = (first->kind & 0x10) ? CmdLabel : command_.PeekCommandId(word);
  // Statements inside a void or debug_only block are skipped whole, whatever
  // they are, until the block's closer; the statement checks skip the closer
  // too.
  bool skipped = false;
  bool checked = true;
  if (command_.BlockDepth() != 0) {
    const uint32_t flags = command_.TopBlock().flags;
    checked = (flags & (BlkVoid | BlkDebugOnly)) == 0;
    skipped = ((flags & BlkVoid) && id != cmd::kVoidEnd) ||
              ((flags & BlkDebugOnly) && id != cmd::kDebugOnlyEnd);
  }
  const bool observed_names = observer_wants_names_;
  if (!skipped && (observed_names || records_.On())) {
    // As written: before the setup phase puts its stand-in in front.
    names_.clear();
    IndexStatement(command_, id, command_.statement(), &names_);
  }
  if (id == CmdInvalid && command_.InSetupPhase()) id = command_.GetCommandId(word);
  command_.SetStatementId(id);
  if (skipped) return CmdDone;
  if (observer_ != nullptr) {
    observer_->OnStatement(*source, id, command_.statement());
    if (observed_names) observer_->OnNames(*source, names_);
  }
  records_.Keep(names_, checked);

  if (id != CmdLabel && id != CmdInvalid) {
    // The command id replaces the word's element. Dispatch quotes the word
    // only for an id outside the table, so only such a word is kept.
    if (id < 0 || id >= kCommandCount) {
      leading_word_.assign(word);
      word = leading_word_;
    }
    command_.DeleteElement();
  }
  const int32_t errors_before = sys_.log.errorCount;
  const bool compiled = compiler_.Dispatch(id, word);
  records_.KeepDefinition();
  if (compiled) return CmdDone;
  if (sys_.log.errorCount != errors_before) NoteFirstCause(*source, id);
  return CmdInvalid;
}

void CommandReader::NoteFirstCause(const SourceText& source, int32_t id) {
  if (failed_opener_script_ != &source) failed_opener_script_ = nullptr;
  const bool opener = id == cmd::kIf || id == cmd::kLoop || id == cmd::kFunction ||
                      id == cmd::kVoid || id == cmd::kDebugOnly;
  if (opener) {
    if (failed_opener_script_ == nullptr) {
      failed_opener_script_ = &source;
      failed_opener_line_ = source.statementLine;
      failed_opener_id_ = id;
    }
    return;
  }
  const int32_t opened_by = OpenerOf(id);
  if (opened_by < 0) return;
  if (failed_opener_script_ != nullptr && failed_opener_id_ == opened_by) {
    sys_.log.Note(kNoteAfterFailedOpener,
                  {failed_opener_line_, kCommands[static_cast<size_t>(opened_by)].name});
    return;
  }
  // A text given back in part reads as zeros there: no string can be told.
  if (source.discardedTo != 0) return;
  const size_t string = StringThatSwallowsStatements(
      source.contents, source.statementOffset, kCommands[static_cast<size_t>(opened_by)].name);
  if (string != std::string_view::npos) {
    sys_.log.Note(kNoteAfterOpenString, {source.LineAt(static_cast<uint32_t>(string))});
  }
}

int32_t CommandReader::FinishScript(bool abandoned) {
  SourceText* const ended = sys_.script.currentSource;
  bool written = true;
  if (!abandoned) written = compiler_.WriteEndCommand();
  // Reported while the ended script is still current, so the messages carry
  // its path; the next script starts with an empty block stack.
  const int32_t errors_before = sys_.log.errorCount;
  compiler_.CloseOpenBlocks();
  if (sys_.log.errorCount != errors_before && ended != nullptr && ended->discardedTo == 0) {
    // A block left open at the end: its closer may stand inside a string
    // (unless the text has been given back in part).
    size_t string = std::string_view::npos;
    for (const int32_t closer : {cmd::kEndIf, cmd::kLoopEnd, cmd::kFunctionEnd, cmd::kVoidEnd,
                                 cmd::kDebugOnlyEnd}) {
      string = std::min(string, StringThatSwallowsStatements(ended->contents, ended->contents.size(),
                                                             kCommands[static_cast<size_t>(closer)].name));
    }
    if (string != std::string_view::npos) {
      sys_.log.Note(kNoteAfterOpenString, {ended->LineAt(static_cast<uint32_t>(string))});
    }
  }
  failed_opener_script_ = nullptr;
  if (ended != nullptr) {
    finished_sources_.insert(ended);
    // An ended source is never read again: its text goes now (before its
    // code is moved, so that the two are not held together), and the next
    // source is read into the same storage. The file itself (its path names
    // it in messages) is released with the others at the finish stage.
    SetSourceAside(sys_, *ended);
  }
  // Its code is complete: it moves out of the storage the next script uses.
  if (sys_.script.currentObject != nullptr && written) sys_.KeepCode(*sys_.script.currentObject);

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
