// KCFuncSet: the encoders through which every byte of compiled script code is
// written to the current object, the generic command encoder, and the
// expression compiler that turns a parameter into postfix items.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "context/diagnostics.h"
#include "context/object_format.h"
#include "language/command_table.h"
#include "source/tokenizer.h"

namespace kv {

class KCCommand;
class KCSystem;
struct CommandElement;

// The item count of a parameter is one byte in the compiled code.
inline constexpr std::string_view kMsgTooManyItems = "パラメータの項目数が 255 を超えています\n";

// Largest item count a parameter can carry, and the deepest bracket nesting
// the expression compiler accepts (each level costs a fixed number of stack
// frames, so the limit keeps the recursion bounded).
inline constexpr uint32_t kMaxItemCount = 255;
inline constexpr uint32_t kMaxBracketDepth = 256;

class KCFuncSet {
 public:
  KCFuncSet(KCSystem& sys, KCCommand& command);

  // Each of these writes one code entry and counts it. A command entry
  // starts a new count; CommitEntries adds the count of a complete command
  // to itemPosition, so a command that fails halfway leaves it as it was.
  bool OutString(std::string_view text, const char* context);
  bool OutChar(uint8_t value, const char* context);
  bool OutLong(int32_t value, const char* context);
  bool OutDouble(double value);
  bool OutVariable(std::string_view name, const char* context);
  bool OutCmdName(int32_t id, const char* context);
  // Command code, then the parameter-count check, then the count entry.
  bool OutCmdName(int32_t id, const char* context, int32_t min, int32_t max);
  void CommitEntries();
  // A whole command whose parameters are all expressions, committed.
  bool OutCommand(int32_t id, const char* context, int32_t min, int32_t max);

  // A jump's distance, which is no entry of its own: the target index is the
  // itemPosition just after the jump plus the distance. *patch_pos receives
  // where it stands, for PatchJump.
  bool OutJumpDistance(int32_t distance, const char* context, uint32_t* patch_pos);
  // Rewrites the distance at `patch_pos` in place so that the jump, whose
  // index after it is `base_index`, lands on the current itemPosition.
  bool PatchJump(uint32_t patch_pos, uint32_t base_index, const char* context);
  // Rewrites the byte entry at `position` in place.
  bool PatchChar(uint32_t position, uint8_t value, const char* context);

  // Reports that the current statement has `given` parameters where its
  // command `id` takes `min` to `max`, with a note that names them.
  void WrongParamCount(int32_t id, uint32_t given, int32_t min, int32_t max);
  // Reports a syntax error (`message`, which may quote the element's text)
  // at `element` of the current statement, with a note that names it and its
  // column.
  void SyntaxErrorAt(const CommandElement& element,
                     std::string_view message = kMsgSyntaxError);
  // The place of `element` of the current statement.
  SourcePlace PlaceOf(const CommandElement& element) const;

  // Compiles parameter `parameter` of the current statement as an expression.
  // Full mode (start_index null): the whole parameter, preceded by its item
  // count. Partial mode: from *start_index, possibly ending at an '@'; no count
  // is written and *start_index receives the first element not consumed.
  // *item_count (optional) receives the number of items written.
  bool Condition(uint32_t* start_index, uint32_t parameter, uint32_t* item_count);

 private:
  struct ExprState;
  // One postfix item of an expression, written once the whole parameter has
  // been parsed.
  struct ExprItem {
    enum Kind : uint8_t { kVariable = 0, kNumber = 1, kString = 2, kOperator = 3 };
    Kind kind;
    uint8_t code = 0;
    double number = 0;
    std::string_view text;  // points into the element, which outlives the compile
  };

  // One entry: the specifier and its payload, written at the object's position.
  bool WriteEntry(const char* bytes, size_t n, std::string_view no_object_message,
                  std::string_view write_message, const char* context);
  // Reports why an entry could not be written; false.
  bool EntryFailed(std::string_view no_object_message, std::string_view write_message,
                   const char* context);
  // The entry writers behind the Out* encoders, which count nothing.
  bool WriteString(std::string_view text, const char* context);
  bool WriteChar(uint8_t value, const char* context);
  bool WriteLong(int32_t value, const char* context);
  bool WriteDouble(double value);
  bool WriteVariable(std::string_view name, const char* context);
  // Overwrites `n` bytes at `position` of the current object.
  bool PatchEntry(uint32_t position, const char* bytes, size_t n, std::string_view no_object_message,
                  std::string_view write_message, const char* context);
  bool Counted(bool written) {
    pending_entries_ += written ? 1 : 0;
    return written;
  }

  // OutString and OutVariable: specifier, length, then the bytes.
  bool WriteCounted(uint8_t specifier, std::string_view text, std::string_view no_object_message,
                    std::string_view header_message, std::string_view bytes_message,
                    const char* context);

  // Writes the items of an expression (after its count, before the '@'
  // terminator, when asked for) in place at the end of the object. False,
  // with nothing written or reported, when they cannot be appended there; the
  // items are then written one by one, so an entry that fails reports as its
  // own encoder does.
  bool WriteItems(const std::vector<ExprItem>& items, bool write_count, bool write_terminator);

  // The expression compiler's steps.
  bool QueueOut(ExprState& state, uint32_t* item_count, bool write_count, bool write_terminator);
  bool ParseLevel(ExprState& state, int level);
  bool Monomial(ExprState& state);
  bool Primary(ExprState& state);
  uint32_t CheckOperator(ExprState& state, uint32_t position);
  const CommandElement* GetElementForCalc(ExprState& state, uint32_t position, const char* context);
  // Reports the closing bracket missing at the state's position; false.
  [[gnu::cold, gnu::noinline]] bool MissingCloseBracket(ExprState& state);
  // After an expression failed: names a double-byte character the tokenizer
  // split (a bare word with "ー"), the likely cause; false when none.
  bool NoteSplitWord(const ExprState& state);

  KCSystem& sys_;
  KCCommand& command_;
  // The items of the parameter being compiled (kept for their storage).
  std::vector<ExprItem> queue_;
  // Entries of the command being written, not yet in itemPosition.
  uint32_t pending_entries_ = 0;
};

}  // namespace kv
