// KCFuncSet: the encoders through which every byte of compiled script code is
// written to the current object, the generic command encoder, and the
// expression compiler that turns a parameter into postfix items.
#pragma once

#include <cstdint>
#include <string_view>

namespace kv {

class KCCommand;
class KCSystem;

// Specifier bytes of the compiled code entries.
enum Specifier : uint8_t {
  SpecCommand = 0x01,
  SpecString = 0x02,
  SpecChar = 0x04,
  SpecLong = 0x08,
  SpecDouble = 0x10,
  SpecVariable = 0x20,
};

class KCFuncSet {
 public:
  KCFuncSet(KCSystem& sys, KCCommand& command);

  bool OutString(std::string_view text, const char* context);
  bool OutChar(uint8_t value, const char* context);
  bool OutLong(int32_t value, const char* context);
  bool OutDouble(double value);
  bool OutVariable(std::string_view name, const char* context);
  bool OutCmdName(int32_t id, const char* context);
  // Command code, then the parameter-count check, then the count entry.
  bool OutCmdName(int32_t id, const char* context, int32_t min, int32_t max);
  // A whole command whose parameters are all expressions.
  bool OutCommand(int32_t id, const char* context, int32_t min, int32_t max);

  // Compiles parameter `parameter` of the current statement as an expression.
  // Full mode (start_index null): the whole parameter, preceded by its item
  // count. Partial mode: from *start_index, possibly ending at an '@'; no count
  // is written and *start_index receives the first element not consumed.
  // *item_count (optional) receives the number of items written.
  bool Condition(uint32_t* start_index, uint32_t parameter, uint32_t* item_count);

 private:
  KCSystem& sys_;
  KCCommand& command_;
};

}  // namespace kv
