// Whole runs over a small in-memory game with fuzzed command-line words.
//
// Input: the argument words separated by NUL bytes (a word on a real command
// line cannot hold one).
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "run_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kv;
  std::vector<std::string> args;
  const std::string input(reinterpret_cast<const char*>(data), size);
  for (size_t at = 0; at <= input.size() && args.size() < 64;) {
    size_t end = input.find('\0', at);
    if (end == std::string::npos) end = input.size();
    args.push_back(input.substr(at, end - at));
    at = end + 1;
  }
  if (size == 0) args.clear();

  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt",
             "window_title \"t\";\ncreate_window;\ntext \"a\";\nscript_change \"s/b.scr\";\n");
  fs.AddFile("/game/s/b.scr", "text \"b\";\n");
  fs.AddFile("/game/s/c.txt", "text \"c\";\n");
  fs.AddFile("/game/img/a.png", "png");
  fs.AddFile("/game/img/B.PNG", "PNG");
  fs.AddFile("/game/se/a.wav", "wav");
  fs.AddFile("/game/mv/a.avi", "avi");
  fs.AddFile("/game/script.kvo", "old");
  const std::map<std::string, std::string> before = fs.Files();

  fuzz::Run run = fuzz::RunConverterOn(fs, args);
  const std::string& console = run.log.text;
  const int errors = fuzz::CheckRunReport(run, fs);

  // Only the outputs a run may name change: the defaults and whatever a word
  // of the command line names.
  std::set<std::string> outputs = {"/game/script.kvo", "/game/image.kvo", "/game/audio.kvo",
                                   "/game/movie.kvo"};
  for (const std::string& word : args) outputs.insert(fs.AbsolutePath(word));
  // Judged by whole messages: a word of the command line may itself quote
  // these texts, and messages that echo it (a path that cannot be written)
  // must not pass for a refusal.
  bool refused = false;
  for (const std::string& m : run.log.messages) {
    refused |= m.rfind("エラー : 不明なオプションです", 0) == 0 ||
               (m.rfind("エラー : オプション \"", 0) == 0 &&
                m.find("\" に値が指定されていません\n") != std::string::npos);
  }
  if ((errors == -1 || refused) && fs.Files() != before) {
    fuzz::Fail("the help text or a refused option changed a file", console);
  }
  for (const auto& [path, contents] : fs.Files()) {
    auto old = before.find(path);
    if ((old == before.end() || old->second != contents) && !outputs.count(path)) {
      fuzz::Fail("a file that is no output changed: " + path, console);
    }
  }
  for (const auto& [path, contents] : before) {
    if (!fs.HasFile(path)) fuzz::Fail("a file vanished: " + path, console);
  }
  return 0;
}
