// AheadCompiler: compiles the script after the current one on a second
// thread, in a context of its own, while the conversion compiles the current
// one; when the conversion reaches it, its result is taken over as if it had
// been compiled there and then.
//
// A script compiles the same wherever it is compiled, except through what
// earlier scripts leave behind: the aliases of new_command, and the errors
// counted towards the error limit. A result is taken over only when neither
// can have made a difference (no alias was added meanwhile, and the errors
// since the limit, with the script's own, stay below it); otherwise the
// conversion compiles the script itself. Messages are kept until the result
// is taken over, so the console reads as if one thread had done the work.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
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
  // Waits for the script being compiled ahead, if any, and drops it. Before
  // the conversion's objects are written (they may point into its code).
  void Stop();

 private:
  // A script to compile ahead, and what compiling it left.
  struct Job {
    std::string path;
    std::map<int32_t, std::string> aliases;  // at the start
    bool compiled = false;  // read, compiled to its end and its code kept
    std::vector<Diagnostics::Report> reports;
    int32_t errors = 0;  // errors that count towards the limit
    std::map<int32_t, std::string> aliases_after;
  };

  void Work();
  void Compile();
  void Wait();

  KCSystem& sys_;
  KCCommand& command_;
  // The second context, kept from script to script for its storage; code
  // taken over stays in its blocks until the conversion ends.
  KCSystem ahead_;
  Job job_;
  bool pending_ = false;  // job_ was handed out and not taken or dropped

  std::mutex mutex_;
  std::condition_variable wake_;
  bool busy_ = false;
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace kv
