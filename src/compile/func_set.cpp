// The code encoders: each writes one typed entry (specifier byte and payload,
// integers little-endian) at the current object's position, and the command
// encoders built on them.
#include "compile/func_set.h"

#include <cstring>

#include "context/kc_system.h"
#include "context/operators.h"
#include "platform/coding.h"
#include "language/kc_command.h"
#include "source/numbers.h"

namespace kv {
namespace {

constexpr std::string_view kOutStringNoObject = "KCFuncSet::OutString(1) %s オブジェクトの取得に失敗\n";
constexpr std::string_view kOutStringHeader = "KCFuncSet::OutString(2) %s コマンド指定子の出力に失敗\n";
constexpr std::string_view kOutStringBytes = "KCFuncSet::OutString(3) %s 文字列の出力に失敗\n";
constexpr std::string_view kOutCharNoObject = "KCFuncSet::OutChar(1) %s オブジェクトの取得に失敗\n";
constexpr std::string_view kOutCharWrite = "KCFuncSet::OutChar(2) %s char データの出力に失敗\n";
constexpr std::string_view kOutLongNoObject = "KCFuncSet::OutLong(1) %s オブジェクトの取得に失敗\n";
constexpr std::string_view kOutLongWrite = "KCFuncSet::OutLong(2) %s long データの出力に失敗\n";
constexpr std::string_view kOutDoubleNoObject = "KCFuncSet::OutDouble(1) %s オブジェクトの取得に失敗\n";
constexpr std::string_view kOutDoubleWrite = "KCFuncSet::OutDouble(2) %s double データの出力に失敗\n";
constexpr std::string_view kOutVariableNoObject = "KCFuncSet::OutVariable(1) %s オブジェクトの取得に失敗\n";
constexpr std::string_view kOutVariableHeader = "KCFuncSet::OutVariable(2) %s コマンド指定子の出力に失敗\n";
constexpr std::string_view kOutVariableBytes = "KCFuncSet::OutVariable(3) %s 変数名または文字列の出力に失敗\n";
constexpr std::string_view kOutCmdNameNoObject = "KCFuncSet::OutCmdName(1) %s オブジェクトの取得に失敗\n";
constexpr std::string_view kOutCmdNameWrite = "KCFuncSet::OutCmdName(2) %s コマンドの出力に失敗\n";

constexpr std::string_view kNoteParamCount = "\"%s\" のパラメータは %d 個です (指定できる数 : %s)\n";
constexpr std::string_view kNoteEndTookParameters =
    "ファイルの終端の文に ; がないため、その文のパラメータが end に残っています\n";
constexpr std::string_view kNoteNotBeforeCreateWindow =
    "\"%s\" は create_window より前には使えないコマンドです\n";
constexpr std::string_view kNoteCommandAsVariable =
    "\"%s\" はコマンドの名前です。変数の名前には使えません\n";

// OutDouble's only caller is the queue writer; its messages name that step.
constexpr const char* kOutDoubleContext = "QueueOut(4)";

// The bytes of the entries, each put at `out`; they return the end.
char* PutCharEntry(char* out, uint8_t value) {
  out[0] = static_cast<char>(SpecChar);
  out[1] = static_cast<char>(value);
  return out + 2;
}

char* PutDoubleEntry(char* out, double value) {
  static_assert(sizeof(double) == 8, "doubles are written as 8 IEEE-754 bytes");
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  out[0] = static_cast<char>(SpecDouble);
  EncodeFixed64(out + 1, bits);
  return out + 9;
}

// The specifier and length of a counted entry; its bytes follow.
char* PutCountedHeader(char* out, uint8_t specifier, size_t length) {
  // The length field is 32 bits; a longer text cannot be represented. The
  // tokenizer's buffers keep every element far below this.
  out[0] = static_cast<char>(specifier);
  EncodeFixed32(out + 1, static_cast<uint32_t>(length));
  return out + 5;
}

constexpr size_t kCharEntrySize = 2;
constexpr size_t kLongEntrySize = 5;
constexpr size_t kDoubleEntrySize = 9;
constexpr size_t kCountedHeaderSize = 5;

}  // namespace

KCFuncSet::KCFuncSet(KCSystem& sys, KCCommand& command) : sys_(sys), command_(command) {}

bool KCFuncSet::WriteEntry(const char* bytes, size_t n, std::string_view no_object_message,
                           std::string_view write_message, const char* context) {
  // Small, so that it is inlined and each entry's fixed size reaches the copy.
  if (sys_.script.currentObject != nullptr && sys_.script.currentObject->WriteBytes(bytes, n))
    return true;
  return EntryFailed(no_object_message, write_message, context);
}

bool KCFuncSet::EntryFailed(std::string_view no_object_message, std::string_view write_message,
                            const char* context) {
  sys_.log.InternalError(sys_.script.currentObject == nullptr ? no_object_message : write_message,
                         {LogArg::Own(context)});
  return false;
}

bool KCFuncSet::WriteCounted(uint8_t specifier, std::string_view text,
                             std::string_view no_object_message, std::string_view header_message,
                             std::string_view bytes_message, const char* context) {
  char entry[kCountedHeaderSize];
  PutCountedHeader(entry, specifier, text.size());
  if (!WriteEntry(entry, sizeof entry, no_object_message, header_message, context)) return false;
  // All bytes are written, NUL bytes included, so the data always matches
  // the length written before it.
  if (!text.empty() && !sys_.script.currentObject->WriteBytes(text.data(), text.size())) {
    sys_.log.InternalError(bytes_message, {LogArg::Own(context)});
    return false;
  }
  return true;
}

bool KCFuncSet::OutString(std::string_view text, const char* context) {
  return Counted(WriteString(text, context));
}

bool KCFuncSet::WriteString(std::string_view text, const char* context) {
  return WriteCounted(SpecString, text, kOutStringNoObject, kOutStringHeader, kOutStringBytes,
                      context);
}

bool KCFuncSet::OutVariable(std::string_view name, const char* context) {
  return Counted(WriteVariable(name, context));
}

bool KCFuncSet::WriteVariable(std::string_view name, const char* context) {
  return WriteCounted(SpecVariable, name, kOutVariableNoObject, kOutVariableHeader,
                      kOutVariableBytes, context);
}

bool KCFuncSet::OutChar(uint8_t value, const char* context) {
  return Counted(WriteChar(value, context));
}

bool KCFuncSet::WriteChar(uint8_t value, const char* context) {
  char entry[kCharEntrySize];
  PutCharEntry(entry, value);
  return WriteEntry(entry, sizeof entry, kOutCharNoObject, kOutCharWrite, context);
}

bool KCFuncSet::OutLong(int32_t value, const char* context) {
  return Counted(WriteLong(value, context));
}

bool KCFuncSet::WriteLong(int32_t value, const char* context) {
  char entry[kLongEntrySize];
  entry[0] = static_cast<char>(SpecLong);
  EncodeFixed32(entry + 1, static_cast<uint32_t>(value));
  return WriteEntry(entry, sizeof entry, kOutLongNoObject, kOutLongWrite, context);
}

bool KCFuncSet::OutDouble(double value) { return Counted(WriteDouble(value)); }

bool KCFuncSet::WriteDouble(double value) {
  char entry[kDoubleEntrySize];
  PutDoubleEntry(entry, value);
  return WriteEntry(entry, sizeof entry, kOutDoubleNoObject, kOutDoubleWrite, kOutDoubleContext);
}

bool KCFuncSet::WriteItems(const std::vector<ExprItem>& items, bool write_count,
                           bool write_terminator) {
  if (sys_.script.currentObject == nullptr) return false;
  size_t size = (write_count ? kCharEntrySize : 0) + (write_terminator ? kCharEntrySize : 0);
  for (const ExprItem& item : items) {
    switch (item.kind) {
      case ExprItem::kVariable:
      case ExprItem::kString: size += kCountedHeaderSize + item.text.size(); break;
      case ExprItem::kNumber: size += kDoubleEntrySize; break;
      case ExprItem::kOperator: size += kCharEntrySize; break;
      default: return false;
    }
  }
  char* out = sys_.script.currentObject->AppendInPlace(size);
  if (out == nullptr) return false;
  if (write_count) out = PutCharEntry(out, static_cast<uint8_t>(items.size()));
  for (const ExprItem& item : items) {
    switch (item.kind) {
      case ExprItem::kVariable:
      case ExprItem::kString:
        out = PutCountedHeader(out, item.kind == ExprItem::kVariable ? SpecVariable : SpecString,
                               item.text.size());
        if (!item.text.empty()) std::memcpy(out, item.text.data(), item.text.size());
        out += item.text.size();
        break;
      case ExprItem::kNumber: out = PutDoubleEntry(out, item.number); break;
      case ExprItem::kOperator: out = PutCharEntry(out, item.code); break;
    }
  }
  if (write_terminator) PutCharEntry(out, kOperatorAt);
  return true;
}

bool KCFuncSet::OutCmdName(int32_t id, const char* context) {
  char entry[5];
  entry[0] = static_cast<char>(SpecCommand);
  EncodeFixed32(entry + 1, static_cast<uint32_t>(id));
  if (!WriteEntry(entry, sizeof entry, kOutCmdNameNoObject, kOutCmdNameWrite, context)) return false;
  pending_entries_ = 1;
  return true;
}

bool KCFuncSet::OutCmdName(int32_t id, const char* context, int32_t min, int32_t max) {
  if (!OutCmdName(id, context)) return false;
  const uint32_t n = command_.GetParamCount();
  // No upper limit in the table means at most 255, the most one byte holds.
  if (min != 0 && max == 0) max = static_cast<int32_t>(kMaxItemCount);
  if (n > kMaxItemCount || n < static_cast<uint32_t>(min < 0 ? 0 : min) ||
      static_cast<int64_t>(n) > max) {
    WrongParamCount(id, n, min, max);
    return false;
  }
  return OutChar(static_cast<uint8_t>(n), context);
}

void KCFuncSet::WrongParamCount(int32_t id, uint32_t given, int32_t min, int32_t max) {
  sys_.log.Error(kMsgWrongParamCount);
  const int32_t statement = command_.StatementId();
  if (statement == CmdEndOfFile) {
    sys_.log.Note(kNoteEndTookParameters);
    return;
  }
  const CommandElement* first = command_.ElementAt(0, 0);
  // Before create_window, a command of the main phase is read as a calc
  // statement with all of its words: the count of calc says nothing.
  if (command_.InSetupPhase() && id == cmd::kCalc && first != nullptr && first->kind == ElemWord) {
    const int32_t named = command_.FindCommandId(first->text);
    if (named != CmdInvalid && named != cmd::kCalc && !command_.IsSetupCommandId(named)) {
      sys_.log.Note(kNoteNotBeforeCreateWindow, {first->text});
      return;
    }
  }
  std::string name;
  if (statement == CmdLabel && first != nullptr) {
    name = first->text + ":";
  } else if (id >= 0 && id < kCommandCount) {
    name = kCommands[id].name;
  } else if (id == CmdImplicitText) {
    name = kCommands[cmd::kText].name;  // a line of text takes text's counts
  } else {
    return;  // no command to name
  }
  std::string allowed = std::to_string(min);
  if (max != min) allowed += " ～ " + std::to_string(max);
  allowed += " 個";
  sys_.log.Note(kNoteParamCount,
                {name, static_cast<int32_t>(given), LogArg::Own(allowed)});
}

SourcePlace KCFuncSet::PlaceOf(const CommandElement& element) const {
  const SourceText* source = sys_.script.currentSource;
  return source != nullptr ? Diagnostics::PlaceIn(*source, element.offset) : SourcePlace{};
}

void KCFuncSet::SyntaxErrorAt(const CommandElement& element, std::string_view message) {
  const SourcePlace place = PlaceOf(element);
  sys_.log.ErrorAt(place, message, {element.text});
  // "day = 2;" where day is a command: the command took the word, and what
  // is left begins with an operator.
  const int32_t id = command_.StatementId();
  const CommandElement* first = command_.ElementAt(0, 0);
  if (id >= 0 && id < kCommandCount && &element == first && element.kind == ElemOperator) {
    sys_.log.NoteAt(Diagnostics::StatementPlace(*sys_.script.currentSource),
                    kNoteCommandAsVariable, {kCommands[id].name});
    return;
  }
  std::string_view token = element.text;
  const SourceText* source = sys_.script.currentSource;
  if (element.kind == ElemNumber && source != nullptr && element.offset < source->contents.size()) {
    // A number's text is what its conversion read.
    const std::string_view rest = std::string_view(source->contents).substr(element.offset);
    double unused = 0;
    size_t consumed = 0;
    ReadNumberText(rest, &unused, &consumed);
    token = rest.substr(0, consumed);
  }
  NoteSyntaxToken(sys_.log, token, place, source);
}

bool KCFuncSet::OutCommand(int32_t id, const char* context, int32_t min, int32_t max) {
  if (!OutCmdName(id, context, min, max)) return false;
  const uint32_t n = command_.GetParamCount();
  for (uint32_t i = 0; i < n; ++i) {
    if (!Condition(nullptr, i, nullptr)) return false;
  }
  CommitEntries();
  return true;
}

void KCFuncSet::CommitEntries() {
  sys_.script.itemPosition += pending_entries_;
  pending_entries_ = 0;
}

bool KCFuncSet::OutJumpDistance(int32_t distance, const char* context, uint32_t* patch_pos) {
  if (sys_.script.currentObject != nullptr) *patch_pos = sys_.script.currentObject->position;
  return WriteLong(distance, context);
}

bool KCFuncSet::PatchEntry(uint32_t position, const char* bytes, size_t n,
                           std::string_view no_object_message, std::string_view write_message,
                           const char* context) {
  KCFile* object = sys_.script.currentObject;
  if (object == nullptr || position > object->contents.size() ||
      n > object->contents.size() - position) {
    return EntryFailed(no_object_message, write_message, context);
  }
  std::memcpy(object->contents.data() + position, bytes, n);
  return true;
}

bool KCFuncSet::PatchJump(uint32_t patch_pos, uint32_t base_index, const char* context) {
  char entry[kLongEntrySize];
  entry[0] = static_cast<char>(SpecLong);
  EncodeFixed32(entry + 1, sys_.script.itemPosition - base_index);
  return PatchEntry(patch_pos, entry, sizeof entry, kOutLongNoObject, kOutLongWrite, context);
}

bool KCFuncSet::PatchChar(uint32_t position, uint8_t value, const char* context) {
  char entry[kCharEntrySize];
  PutCharEntry(entry, value);
  return PatchEntry(position, entry, sizeof entry, kOutCharNoObject, kOutCharWrite, context);
}

}  // namespace kv
