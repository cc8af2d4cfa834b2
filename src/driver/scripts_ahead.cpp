#include "driver/scripts_ahead.h"

#include <system_error>
#include <utility>

#include "compile/dispatcher.h"
#include "compile/func_set.h"
#include "compile/statement_handlers.h"
#include "context/pell_file.h"
#include "language/kc_command.h"
#include "source/source_loader.h"

namespace kv {
namespace {

// The second context's messages are all kept for the conversion's log.
class NoSink : public MessageSink {
 public:
  void Write(std::string_view) override {}
};
NoSink no_sink;

// The script that NextScript would make current now: the first without code
// from where its scan stands.
const std::string* NextUnconverted(const KCSystem& sys) {
  for (auto it = sys.Objects.lower_bound(sys.nextScriptScan); it != sys.Objects.end(); ++it) {
    if (!it->second->HasCode()) return &it->first;
  }
  return nullptr;
}

}  // namespace

AheadCompiler::AheadCompiler(KCSystem& sys, KCCommand& command)
    : sys_(sys), command_(command), ahead_(sys.fs, no_sink, sys.log.encoding()) {
  ahead_.log.set_style(sys.log.style());
  ahead_.engineDirectory = sys.engineDirectory;
  ahead_.checkOnly = sys.checkOnly;
}

AheadCompiler::~AheadCompiler() {
  Stop();
  if (thread_.joinable()) thread_.join();
}

void AheadCompiler::Started() {
  if (started_ || sys_.setupPhase || sys_.currentSource == nullptr) return;
  started_ = true;
  // The current script is the conversion's; the unconverted ones after it
  // follow in the order NextScript takes them.
  for (auto it = sys_.Objects.upper_bound(sys_.nextScriptScan); it != sys_.Objects.end(); ++it) {
    if (it->second->HasCode()) continue;
    // Every other one, starting with the next, is compiled ahead.
    const State state = scripts_.size() % 2 == 0 ? State::kAhead : State::kHere;
    index_.emplace(it->first, scripts_.size());
    scripts_.push_back({it->first, state, {}});
  }
  if (scripts_.empty()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  PublishAliases();
  try {
    thread_ = std::thread(&AheadCompiler::Work, this);
    thread_running_ = true;
  } catch (const std::system_error&) {
    // No second thread to be had: every script is compiled in its turn.
  }
}

void AheadCompiler::PublishAliases() {
  if (aliases_ == nullptr || aliases_->size() != command_.Aliases().size()) {
    aliases_ = std::make_shared<const Aliases>(command_.Aliases());
  }
}

void AheadCompiler::TakeReady(std::set<const KCFile*>* finished) {
  if (!started_) return;
  std::unique_lock<std::mutex> lock(mutex_);
  PublishAliases();
  for (;;) {
    const std::string* next = NextUnconverted(sys_);
    if (next == nullptr) return;
    const auto found = index_.find(*next);
    if (found == index_.end()) return;
    Script& script = scripts_[found->second];
    if (script.state == State::kHere) return;
    // A script left by a stopped thread is compiled here as well.
    wake_.wait(lock, [&] { return script.state == State::kDone || !thread_running_; });
    const bool done = script.state == State::kDone;
    script.state = State::kHere;
    if (!done) return;
    Result result = std::move(script.result);
    if (!result.compiled || sys_.setupPhase || command_.Aliases().size() != result.aliases->size() ||
        sys_.log.errorsSinceLimit + result.errors >= Diagnostics::kErrorLimit) {
      return;  // compiled here instead, now that its turn has come
    }
    lock.unlock();
    for (const Diagnostics::Report& report : result.reports) sys_.log.Replay(report);
    sys_.AdoptDefinitions(script.path, result.labels, result.functions);
    sys_.NameUses.insert(sys_.NameUses.end(), result.uses.begin(), result.uses.end());
    sys_.Objects.at(script.path)->keptCode = result.code;
    finished->insert(sys_.LoadedSources.at(script.path).get());
    lock.lock();
    if (result.aliases_after.size() != result.aliases->size()) {
      command_.SetAliases(result.aliases_after);
      PublishAliases();
    }
  }
}

void AheadCompiler::Stop() {
  std::unique_lock<std::mutex> lock(mutex_);
  stop_ = true;
  wake_.wait(lock, [this] { return !working_; });
}

void AheadCompiler::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (Script& script : scripts_) {
    if (stop_) break;
    if (script.state != State::kAhead) continue;
    script.result.aliases = aliases_;
    working_ = true;
    lock.unlock();
    Compile(script);
    lock.lock();
    script.state = State::kDone;
    working_ = false;
    wake_.notify_all();
  }
  thread_running_ = false;
  wake_.notify_all();
}

// Compiles `script` in ahead_ as the conversion would in its main phase.
void AheadCompiler::Compile(Script& script) {
  KCSystem& sys = ahead_;
  Result& result = script.result;
  sys.Objects.clear();
  sys.LoadedSources.clear();
  sys.ClearDefinitions();
  sys.NameUses.clear();
  sys.log.errorCount = 0;
  sys.log.warningCount = 0;
  sys.log.errorsSinceLimit = 0;
  sys.itemPosition = 0;
  sys.nextScriptScan.clear();
  sys.currentSource = nullptr;
  sys.currentObject = nullptr;
  sys.setupPhase = false;
  sys.converting = true;
  sys.log.set_recorder(&result.reports);

  KCCommand command(sys);
  command.InitCommandTable();
  command.DeleteSetupCommands();
  command.SetAliases(*result.aliases);
  KCFuncSet funcs(sys, command);
  StatementHandlers handlers(sys, command, funcs);
  Dispatcher dispatcher(sys, command, funcs, handlers);
  CommandReader reader(sys, command, dispatcher);
  if (RegisterChecked(sys, script.path) && NextScript(sys)) reader.RunMainPhase();
  ReleaseSources(sys);
  sys.log.set_recorder(nullptr);

  for (const Diagnostics::Report& report : result.reports) {
    result.errors += report.kind == Diagnostics::Kind::kError;
  }
  result.aliases_after = command.Aliases();
  result.labels.swap(sys.LabelDefinitions);
  result.functions.swap(sys.FunctionDefinitions);
  result.uses.swap(sys.NameUses);
  const auto object = sys.Objects.find(script.path);
  if (object != sys.Objects.end()) result.code = object->second->keptCode;
  result.compiled = result.code.data() != nullptr;
}

}  // namespace kv
