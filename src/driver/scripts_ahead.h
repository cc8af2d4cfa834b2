// AheadCompiler: a second thread compiles the scripts of the main phase ahead
// of their turn, each in a context of its own, while the conversion compiles
// the others; when the conversion reaches a script compiled ahead, the result
// is taken over as if it had been compiled there and then.
//
// The second thread takes every other script and goes through them in their
// order without waiting, so the conversion finds one of every two done when
// it reaches it. A script compiles the same wherever it is compiled,
// except through what earlier scripts leave behind: the aliases of
// new_command, and the errors counted towards the error limit. A result is
// taken over only when neither can have made a difference (no alias was
// added since the script started, and the errors since the limit, with the
// script's own, stay below it); otherwise the conversion compiles the script
// itself. Messages are kept until the result is taken over, so the console
// reads as if one thread had done the work.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "context/diagnostics.h"
#include "context/kc_system.h"
#include "language/command_reader.h"

namespace kv {

class KCCommand;

class AheadCompiler : public ScriptsAhead {
 public:
  AheadCompiler(KCSystem& sys, KCCommand& command);
  ~AheadCompiler() override;
  AheadCompiler(const AheadCompiler&) = delete;
  AheadCompiler& operator=(const AheadCompiler&) = delete;

  void TakeReady(std::set<const KCFile*>* finished) override;
  void Started() override;
  // Lets the second thread finish the script it is compiling and take no
  // other. Before the conversion's objects are written.
  void Stop();

 private:
  using Aliases = std::map<int32_t, std::string>;
  // A script compiled ahead: what compiling it left.
  struct Result {
    std::shared_ptr<const Aliases> aliases;  // at the start
    bool compiled = false;  // read, compiled to its end and its code kept
    std::vector<Diagnostics::Report> reports;
    int32_t errors = 0;     // errors that count towards the limit
    Aliases aliases_after;
    // Only their names and positions are taken over: their script views
    // point into the second context.
    std::vector<DefinitionRecord> labels, functions;
    std::vector<NameUse> uses;
    std::string_view code;
  };
  // Compiled here, to be compiled ahead, compiled ahead.
  enum class State { kHere, kAhead, kDone };
  struct Script {
    std::string path;
    State state = State::kHere;
    Result result;
  };

  void Work();
  void Compile(Script& script);
  // Publishes the conversion's aliases to the second thread when they have
  // grown. Under mutex_.
  void PublishAliases();

  KCSystem& sys_;
  KCCommand& command_;
  // The second context, kept from script to script for its storage; code
  // taken over stays in its blocks until the conversion ends.
  KCSystem ahead_;

  std::mutex mutex_;
  std::condition_variable wake_;
  // The scripts of the main phase in conversion order, from the first one
  // after the script current when the second thread started.
  std::vector<Script> scripts_;
  std::map<std::string, size_t, std::less<>> index_;
  std::shared_ptr<const Aliases> aliases_;  // the conversion's, last published
  bool started_ = false;
  bool stop_ = false;
  bool working_ = false;  // the second thread is compiling a script
  bool thread_running_ = false;
  std::thread thread_;
};

}  // namespace kv
