// The dispatcher: hands each statement that command reading has identified
// to its statement handler or to the generic encoder, and writes the code
// that ends a script.
#pragma once

#include <cstdint>
#include <string_view>

#include "language/command_reader.h"

namespace kv {

class KCCommand;
class KCFuncSet;
class KCSystem;
class StatementHandlers;

class Dispatcher : public StatementCompiler {
 public:
  Dispatcher(KCSystem& sys, KCCommand& command, KCFuncSet& funcs, StatementHandlers& handlers)
      : sys_(sys), command_(command), funcs_(funcs), handlers_(handlers) {}

  bool Dispatch(int32_t id, std::string_view word) override;
  bool WriteEndCommand() override;
  bool WriteErrorMarker() override;
  void CloseOpenBlocks() override;

 private:
  KCSystem& sys_;
  KCCommand& command_;
  KCFuncSet& funcs_;
  StatementHandlers& handlers_;
};

}  // namespace kv
