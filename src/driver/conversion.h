// Script conversion of one run: the setup phase of main.txt, the main phase
// over every registered script, the cross-script checks of a --check run and
// the finish stage that writes the objects. RunConverter drives it from the
// command line; the language server drives it over a game it checks again
// and again, and compiles single scripts with it from where a whole run
// stood when they began.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "compile/dispatcher.h"
#include "compile/func_set.h"
#include "compile/statement_handlers.h"
#include "context/kc_system.h"
#include "language/command_reader.h"
#include "language/kc_command.h"

namespace kv {

class Conversion {
 public:
  explicit Conversion(KCSystem& sys);

  // Sees every statement read and every script made current.
  void set_observer(ReadingObserver* observer) { reader_.set_observer(observer); }
  // Replaces what is done where the cross-script checks of a --check run
  // belong: every script has been read, its definitions and names used are
  // still kept (the language server keeps them per script for later runs).
  void set_cross_reference_step(std::function<void()> step) {
    cross_reference_step_ = std::move(step);
  }

  // Runs the setup phase of main.txt; true when it ended at create_window and
  // the main phase is to run, false when script conversion is over.
  bool StartScriptConversion();
  void RunMainPhase();

  // Compiles the one registered script that is not yet converted, in the
  // main phase, from `start`, as a whole run that stood in that state where
  // the script began would compile it. Nothing is finished: the caller reads
  // what it needs and discards the KCSystem.
  void ConvertScriptFrom(const CarriedState& start);
  // The same for main.txt, registered alone: its setup phase, then its main
  // phase up to its end. False when the setup phase does not end at
  // create_window (a whole run would then compile no other script).
  bool ConvertMainScriptFrom(const CarriedState& start);
  // The state now (between two scripts: the next one's start state).
  const CarriedState& State() const;

  // The finish stage: releases the sources and writes the objects (none in a
  // check). False when writing failed.
  bool FinishConversion();
  static bool FinishObjects(KCSystem& sys);

 private:
  void CheckCrossReferences();

  KCSystem& sys_;
  KCCommand command_;
  KCFuncSet funcs_;
  StatementHandlers handlers_;
  Dispatcher dispatcher_;
  CommandReader reader_;
  std::function<void()> cross_reference_step_;
};

}  // namespace kv
