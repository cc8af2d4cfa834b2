// The route map of the game as the editor holds it: a check of the whole
// game over the editor's texts, with a RouteRecorder watching it.
#include <string>
#include <vector>

#include "context/kc_system.h"
#include "driver/conversion.h"
#include "driver/options.h"
#include "driver/route_map.h"
#include "workspace/game_analysis.h"

namespace kv {
namespace {

class SilentSink : public MessageSink {
 public:
  void Write(std::string_view) override {}
};

}  // namespace

std::string GameAnalysis::RouteMapJson() {
  if (game_directory_.empty()) return "";
  SilentSink sink;
  KCSystem sys(fs_, sink, ConsoleEncoding::kCp932);
  // As `KVConverter --check` in the game folder; the checks of the whole game
  // are left to the analysis.
  std::vector<std::string> args = {"KVConverter", "--check", "-xd", game_directory_, "-td",
                                   game_directory_};
  if (settings_.source_encoding == SourceEncoding::kUtf8) args.push_back("--source-encoding=utf-8");
  bool script_found = false;
  RouteRecorder recorder(game_directory_);
  if (ParseOptions(sys, args, &script_found) == OptionsResult::kSearched && script_found) {
    Conversion conversion(sys);
    conversion.set_observer(&recorder);
    conversion.set_cross_reference_step([] {});
    if (conversion.StartScriptConversion()) conversion.RunMainPhase();
  }
  return kv::RouteMapJson(recorder.Finish(), fs_.Separator());
}

}  // namespace kv
