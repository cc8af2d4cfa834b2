// Whole conversions of fuzzed scripts over an in-memory game tree.
//
// Input: one flag byte, then up to four scripts separated by kSeparator
// (main.txt, a.txt, scenes/b.txt, scenes/deep/c.txt). Flag bit 0 puts
// "create_window;" in front of main.txt, so the fuzzed text is read by the
// main phase rather than the setup phase. A run without errors writes a
// script object that kvdump checks and decompiles back to scripts that
// convert to the same code.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "run_checks.h"
#include "test_support/object_check.h"
#include "test_support/source_round_trip.h"

namespace {

constexpr std::string_view kSeparator = "\n=====\n";
constexpr const char* kScripts[] = {"/game/main.txt", "/game/a.txt", "/game/scenes/b.txt",
                                    "/game/scenes/deep/c.txt"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kv;
  if (size == 0) return 0;
  const bool main_phase = data[0] & 1;
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);

  MemoryFileSystem fs("/game");
  std::vector<std::string> scripts;
  for (size_t i = 0; i < std::size(kScripts); ++i) {
    size_t cut = i + 1 < std::size(kScripts) ? rest.find(kSeparator) : std::string_view::npos;
    std::string text(rest.substr(0, cut));
    if (i == 0 && main_phase) text.insert(0, "create_window;\n");
    fs.AddFile(kScripts[i], std::move(text));
    scripts.push_back(kScripts[i]);
    if (cut == std::string_view::npos) break;
    rest.remove_prefix(cut + kSeparator.size());
  }

  std::sort(scripts.begin(), scripts.end());

  fuzz::Run run = fuzz::RunConverterOn(fs, {});
  const std::string& console = run.log.text;
  const int errors = fuzz::CheckRunReport(run, fs);
  for (const char* archive : {"/game/image.kvo", "/game/audio.kvo", "/game/movie.kvo"}) {
    if (fs.HasFile(archive)) fuzz::Fail("an archive was written without media", console);
  }
  const bool written = fs.HasFile("/game/script.kvo");
  if (errors != 0) {
    if (written) fuzz::Fail("a run with errors wrote the script object", console);
    return 0;
  }
  if (!written) fuzz::Fail("a run without errors wrote no script object", console);
  std::vector<std::string> listed;
  std::string problem;
  if (!CheckScriptObject(fs.FileContents("/game/script.kvo"), &listed, &problem)) {
    fuzz::Fail("the script object fails kvdump's check: " + problem, console);
  }
  if (listed != scripts) fuzz::Fail("the script object does not list every script", console);
  // Its scripts come back from kvdump --source and convert to the same code.
  std::string difference;
  if (!SourceRoundTrip(fs.FileContents("/game/script.kvo"), &difference)) {
    fuzz::Fail("script -> object -> kvdump --source -> object: " + difference, console);
  }
  return 0;
}
