#include "driver/converter.h"

#include <set>
#include <string_view>
#include <utility>

#include "context/kc_system.h"
#include "context/object_format.h"
#include "driver/conversion.h"
#include "driver/file_search.h"
#include "driver/game_lint.h"
#include "driver/options.h"
#include "driver/route_map.h"
#include "output/media_archive.h"
#include "output/script_object.h"
#include "platform/file_system.h"
#include "platform/lexical_path.h"
#include "source/source_loader.h"

namespace kv {
namespace {

constexpr std::string_view kMsgSearchFailed = "main(1) ファイル検索に失敗\n";
constexpr std::string_view kMsgScriptStart = "\nスクリプトファイルコンバート 開始!!\n";
constexpr std::string_view kMsgScriptFinish = "スクリプトファイルコンバート 終了!!\n";
constexpr std::string_view kMsgResult = "\n結果 : %s / エラー %d件 / 警告 %d件\n";
constexpr char kResultSuccess[] = "成功";
constexpr char kResultFailure[] = "失敗";
constexpr std::string_view kMsgObjectKept = "エラーがあるため \"%s\" は更新されていません\n";
constexpr std::string_view kMsgNothingFound = "\"%s\" 以下にコンバートするファイルが見つかりませんでした\n";
constexpr std::string_view kMsgInterrupted = "中断しました\n";
constexpr std::string_view kMsgStdoutLost = "標準出力に書き込めませんでした: %s\n";
constexpr std::string_view kMsgNoCp932Conversion =
    "CP932 の文字コード変換が使えないため、メッセージとスクリプトの文字は変換せずに表示します\n";
constexpr std::string_view kMsgPressEnter = "\nEnterキーを押してください。";
constexpr std::string_view kMsgOutputIsInput = "出力ファイル \"%s\" は入力ファイルです\n";
constexpr std::string_view kMsgOutputNotRegular =
    "出力ファイル \"%s\" は通常のファイルではありません\n";
constexpr std::string_view kMsgLeftoverRemoved =
    "前回の中断で残った一時ファイル \"%s\" を削除しました\n";

struct ArchiveKind {
  std::string_view mark;
  std::vector<std::string> RunResults::*files;
  std::string RunOptions::*object_name;
  std::string_view start_message;
  std::string_view finish_message;
};

constexpr ArchiveKind kArchives[] = {
    {kImageArchiveMark, &RunResults::ImageFiles, &RunOptions::imageObjectName,
     "\nイメージファイルコンバート 開始!!\n", "イメージファイルコンバート 終了!!\n"},
    {kAudioArchiveMark, &RunResults::AudioFiles, &RunOptions::audioObjectName,
     "\nオーディオファイルコンバート 開始!!\n", "オーディオファイルコンバート 終了!!\n"},
    {kMovieArchiveMark, &RunResults::MovieFiles, &RunOptions::movieObjectName,
     "\nムービーファイルコンバート 開始!!\n", "ムービーファイルコンバート 終了!!\n"},
};

// The names of the object files this run is to write, in the order they
// are written: the script object when scripts were converted without error,
// each archive that has files.
std::vector<const std::string*> OutputsToWrite(const KCSystem& sys) {
  std::vector<const std::string*> names;
  if (!sys.results.Objects.empty() && sys.log.errorCount == 0) {
    names.push_back(&sys.options.scriptObjectName);
  }
  for (const ArchiveKind& kind : kArchives) {
    if (!(sys.results.*kind.files).empty()) names.push_back(&(sys.options.*kind.object_name));
  }
  return names;
}

// An output that is one of the run's scripts or media files, under any name
// or link, would replace the author's file with an object: the run fails
// before anything is written.
bool OutputsAreNotInputs(KCSystem& sys, const std::vector<const std::string*>& outputs) {
  std::vector<std::pair<const std::string*, std::string>> existing;
  std::string key;
  for (const std::string* name : outputs) {
    if (sys.fs.FileKey(*name, &key)) existing.emplace_back(name, key);
  }
  if (existing.empty()) return true;
  std::set<std::string> inputs;
  for (const auto& [path, object] : sys.results.Objects) {
    if (sys.fs.FileKey(path, &key)) inputs.insert(key);
  }
  for (const ArchiveKind& kind : kArchives) {
    for (const std::string& path : sys.results.*kind.files) {
      if (sys.fs.FileKey(path, &key)) inputs.insert(key);
    }
  }
  bool distinct = true;
  for (const auto& [name, output_key] : existing) {
    if (!inputs.count(output_key)) continue;
    sys.log.Error(kMsgOutputIsInput, {LogArg::Path(*name)});
    distinct = false;
  }
  return distinct;
}

// An output that names a FIFO or a device (-so /dev/null) would be replaced
// by a regular file when its temporary file is renamed into place: the run
// fails before anything is written.
bool OutputsAreRegular(KCSystem& sys, const std::vector<const std::string*>& outputs) {
  bool regular = true;
  for (const std::string* name : outputs) {
    if (!sys.fs.IsSpecialFile(*name)) continue;
    sys.log.Error(kMsgOutputNotRegular, {LogArg::Path(*name)});
    regular = false;
  }
  return regular;
}

// Removes what killed runs left beside the outputs, once per directory.
void RemoveLeftovers(KCSystem& sys, const std::vector<const std::string*>& outputs) {
  std::set<std::string_view> directories;
  std::vector<std::string> removed;
  for (const std::string* name : outputs) {
    const std::string_view directory = DirectoryPart(*name, sys.fs.Separator());
    if (directories.insert(directory).second) {
      sys.fs.RemoveLeftoverTemporaryFiles(std::string(directory), &removed);
    }
  }
  for (const std::string& path : removed) sys.log.Message(kMsgLeftoverRemoved, {LogArg::Path(path)});
}

// The outputs a failed run leaves as they were: the script object that
// errors kept from being written, and each archive that a failure before it
// kept from being written (one that failed itself has said so).
void ReportKeptOutputs(KCSystem& sys, bool script_found) {
  if (script_found && !sys.results.scriptObjectWritten) {
    sys.log.Message(kMsgObjectKept, {LogArg::Path(sys.options.scriptObjectName)});
  }
  for (const ArchiveKind& kind : kArchives) {
    if ((sys.results.*kind.files).empty()) continue;
    sys.log.Message(kMsgObjectKept, {LogArg::Path(sys.options.*kind.object_name)});
  }
}

// The exit status, unless the console lost what was printed: a result that
// reached nobody fails the run, and is told on the sink's other channel.
int ExitStatus(const KCSystem& sys, MessageSink& sink, int status) {
  std::string reason;
  if (sink.Intact(&reason)) return status;
  sink.WriteFailure(sys.log.Format(kMsgStdoutLost, {LogArg::Path(reason)}));
  return 1;
}

}  // namespace

Conversion::Conversion(KCSystem& sys)
    : sys_(sys), command_(sys), funcs_(sys, command_), handlers_(sys, command_, funcs_),
      dispatcher_(sys, command_, funcs_, handlers_), reader_(sys, command_, dispatcher_) {}

bool Conversion::StartScriptConversion() {
  sys_.log.Message(kMsgScriptStart);
  sys_.script.setupPhase = true;
  sys_.script.converting = true;
  sys_.script.currentSource = nullptr;
  command_.InitCommandTable();
  if (!StartMainScript(sys_)) return false;
  for (;;) {
    int32_t code = reader_.ReadCommand(sys_.script.currentSource);
    if (code == CmdInvalid || code == cmd::kEnd) {
      sys_.log.Message(kMsgScriptFinish);
      // A failed setup statement leaves scripts unread, whose definitions
      // the checks of the whole game would miss.
      if (code == cmd::kEnd) CheckCrossReferences();
      FinishConversion();
      return false;
    }
    if (!sys_.script.setupPhase) return true;
  }
}

void Conversion::RunMainPhase() {
  while (sys_.script.converting) reader_.RunMainPhase();
  sys_.log.Message(kMsgScriptFinish);
  CheckCrossReferences();
  FinishConversion();
}

void Conversion::ConvertScriptFrom(const CarriedState& start) {
  sys_.script.setupPhase = false;
  sys_.script.converting = true;
  sys_.script.currentSource = nullptr;
  command_.InitCommandTable();
  command_.DeleteSetupCommands();
  sys_.carried = start;
  command_.IndexAliases();
  if (!NextScript(sys_)) return;
  while (sys_.script.converting) reader_.RunMainPhase();
}

bool Conversion::ConvertMainScriptFrom(const CarriedState& start) {
  sys_.script.setupPhase = true;
  sys_.script.converting = true;
  sys_.script.currentSource = nullptr;
  command_.InitCommandTable();
  sys_.carried = start;
  command_.IndexAliases();
  if (!StartMainScript(sys_)) return false;
  while (sys_.script.setupPhase) {
    const int32_t code = reader_.ReadCommand(sys_.script.currentSource);
    if (code == CmdInvalid || code == cmd::kEnd) return false;
  }
  while (sys_.script.converting) reader_.RunMainPhase();
  return true;
}

const CarriedState& Conversion::State() const { return sys_.carried; }

void Conversion::CheckCrossReferences() {
  if (!sys_.options.checkOnly) return;
  if (cross_reference_step_) {
    cross_reference_step_();
  } else {
    LintGame(sys_);
  }
}

bool Conversion::FinishConversion() {
  if (command_.InSetupPhase()) command_.DeleteSetupCommands();
  return FinishObjects(sys_);
}

bool Conversion::FinishObjects(KCSystem& sys) {
  ReleaseSources(sys);
  // Nothing is read any more: later reports carry no script position.
  sys.script.currentSource = nullptr;
  sys.script.currentObject = nullptr;
  const std::vector<const std::string*> outputs = OutputsToWrite(sys);
  if (!OutputsAreNotInputs(sys, outputs) || !OutputsAreRegular(sys, outputs)) return false;
  if (!sys.options.checkOnly) RemoveLeftovers(sys, outputs);
  if (!WriteScriptObject(sys)) return false;
  for (const ArchiveKind& kind : kArchives) {
    std::vector<std::string>& files = sys.results.*kind.files;
    const bool written = WriteMediaArchive(sys, kind.mark, files, sys.options.*kind.object_name,
                                           kind.start_message, kind.finish_message);
    // Its list goes once it has been tried: the lists left tell which
    // archives a failure kept from being written.
    files.clear();
    if (!written) return false;
  }
  sys.results.Objects.clear();
  sys.results.code.Clear();
  sys.ClearDefinitions();
  return true;
}

int RunConverter(const std::vector<std::string>& args, const ConverterEnvironment& env) {
  KCSystem sys(env.fs, env.sink, ConsoleEncodingFor(args, env.encoding));
  if (env.seed_clock) sys.seedClock = env.seed_clock;
  sys.log.set_listener(env.listener);
  if (env.set_interrupt_line) env.set_interrupt_line(sys.log.Format(kMsgInterrupted));

  // Said at once: otherwise every message would come out in the wrong code.
  if (!env.cp932_conversion) sys.log.Warning(kMsgNoCp932Conversion);

  bool script_found = false;
  const int32_t errors_before_search = sys.log.errorCount;
  OptionsResult parsed = OptionsResult::kFailed;
  if (env.unconvertible_argument.empty()) {
    parsed = ParseOptions(sys, args, &script_found);
  } else {
    sys.log.Error(kMsgNoCp932Name, {LogArg::Own(env.unconvertible_argument)});
  }
  if (parsed == OptionsResult::kHelp) return ExitStatus(sys, env.sink, 0);
  if (parsed == OptionsResult::kFailed) {
    // A failure that has told its reason (an option error, a script that
    // cannot be loaded) needs no second report that blames the program.
    if (sys.log.errorCount == errors_before_search) sys.log.InternalError(kMsgSearchFailed);
  } else if (!script_found) {
    const RunResults& found = sys.results;
    if (found.ImageFiles.empty() && found.AudioFiles.empty() && found.MovieFiles.empty()) {
      sys.log.Message(kMsgNothingFound, {LogArg::Path(sys.options.searchDirectory)});
    }
    Conversion::FinishObjects(sys);
    // Asked for, the map of a game without scripts is written too: empty.
    if (!sys.options.routeMapPath.empty()) {
      WriteRouteMap(sys, RouteRecorder(sys.options.engineDirectory).Finish());
    }
  } else if (sys.options.routeMapPath.empty()) {
    Conversion conversion(sys);
    if (conversion.StartScriptConversion()) conversion.RunMainPhase();
  } else {
    // The map is drawn from what the compiler reads while it checks, and
    // made on a second thread while the checks of the whole game run.
    Conversion conversion(sys);
    RouteRecorder recorder(sys.options.engineDirectory);
    RouteMapWriter writer(sys);
    conversion.set_observer(&recorder);
    conversion.set_cross_reference_step([&] {
      writer.Start(&recorder);
      LintGame(sys);
      // The map's thread commits its file: it is joined before the run
      // looks at its own outputs in the file system.
      writer.Join();
    });
    if (conversion.StartScriptConversion()) conversion.RunMainPhase();
    writer.Done(&recorder);
  }

  // Under --werror a warning fails the run as an error does.
  const bool success = sys.log.errorCount == 0 &&
                       !(sys.options.warningsAreErrors && sys.log.warningCount > 0);
  // An older object beside fresh ones would otherwise pass for this run's.
  if (!success) ReportKeptOutputs(sys, script_found);
  sys.log.Message(kMsgResult, {LogArg::Own(success ? kResultSuccess : kResultFailure), sys.log.errorCount,
                               sys.log.warningCount});
  if (env.wait_for_enter) {
    sys.log.Message(kMsgPressEnter);
    env.wait_for_enter();
  }
  return ExitStatus(sys, env.sink, success ? 0 : 1);
}

}  // namespace kv
