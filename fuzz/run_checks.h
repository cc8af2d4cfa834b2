// What every fuzzed run of the converter must satisfy, shared by the fuzz
// targets that run it whole.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "context/diagnostics.h"
#include "driver/converter.h"
#include "driver/options.h"
#include "platform/console.h"
#include "test_support/memory_file_system.h"

namespace kv::fuzz {

[[noreturn]] inline void Fail(const std::string& what, const std::string& console) {
  std::fprintf(stderr, "invariant broken: %s\n--- console ---\n%s\n", what.c_str(),
               console.c_str());
  std::abort();
}

// Keeps every message as the unit the diagnostics wrote it in, so labelled
// lines are counted by what was reported, not by what script text quoted in
// a message happens to contain.
class MessageLog : public MessageSink {
 public:
  void Write(std::string_view bytes) override {
    messages.emplace_back(bytes);
    text.append(bytes);
  }
  int CountStartingWith(std::string_view label) const {
    int n = 0;
    for (const std::string& m : messages) n += m.compare(0, label.size(), label) == 0;
    return n;
  }
  std::vector<std::string> messages;
  std::string text;
};

struct Run {
  int status;
  int errors;  // from the result line; -1 after the help text
  MessageLog log;
};

inline Run RunConverterOn(MemoryFileSystem& fs, std::vector<std::string> args) {
  Run run{};
  args.insert(args.begin(), "KVConverter");
  ConverterEnvironment env{fs, run.log, ConsoleEncoding::kUtf8, [] { return 1234567u; }, nullptr};
  run.status = RunConverter(args, env);
  // A run told to print CP932 is judged by the same UTF-8 texts.
  if (ConsoleEncodingFor(args, ConsoleEncoding::kUtf8) == ConsoleEncoding::kCp932) {
    for (std::string& m : run.log.messages) m = Cp932ToUtf8(m);
    run.log.text = Cp932ToUtf8(run.log.text);
  }
  return run;
}

// The result line agrees with the exit status and with the messages printed;
// no temporary output is left open. Returns the error count (-1 after help).
inline int CheckRunReport(const Run& run, const MemoryFileSystem& fs) {
  const std::string& console = run.log.text;
  if (fs.open_outputs != 0) Fail("a temporary output was left behind", console);
  const size_t result = console.rfind("\n結果 : ");
  if (result == std::string::npos) {
    if (run.status != 0 || console.rfind("KVConverter Version ", 0) != 0) {
      Fail("no result line", console);
    }
    return -1;
  }
  int errors = -1, warnings = -1;
  char verdict[16] = {};
  if (std::sscanf(console.c_str() + result, "\n結果 : %15s / エラー %d件 / 警告 %d件", verdict,
                  &errors, &warnings) != 3) {
    Fail("unreadable result line", console);
  }
  const bool success = std::string(verdict) == "成功";
  if (success != (errors == 0) || run.status != (success ? 0 : 1)) {
    Fail("result line, error count and exit status disagree", console);
  }
  if (errors !=
      run.log.CountStartingWith("エラー : ") + run.log.CountStartingWith("内部エラー : ")) {
    Fail("error count differs from the errors printed", console);
  }
  if (warnings != run.log.CountStartingWith("警告 : ")) {
    Fail("warning count differs from the warnings printed", console);
  }
  return errors;
}

}  // namespace kv::fuzz
