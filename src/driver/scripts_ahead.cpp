#include "driver/scripts_ahead.h"

#include <memory>
#include <system_error>

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
// from where its scan stands, other than `skip`.
const std::string* NextUnconverted(const KCSystem& sys, const std::string* skip) {
  for (auto it = sys.Objects.lower_bound(sys.nextScriptScan); it != sys.Objects.end(); ++it) {
    if (skip != nullptr && it->first == *skip) continue;
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
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void AheadCompiler::Started() {
  if (pending_ || sys_.setupPhase || sys_.currentSource == nullptr) return;
  const std::string* next = NextUnconverted(sys_, &sys_.nextScriptScan);
  if (next == nullptr) return;
  job_.path = *next;
  job_.aliases = command_.Aliases();
  pending_ = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    busy_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) return;
  try {
    thread_ = std::thread(&AheadCompiler::Work, this);
  } catch (const std::system_error&) {
    // No second thread to be had: every script is compiled in its turn.
    busy_ = false;
    pending_ = false;
  }
}

void AheadCompiler::TakeReady(std::set<const KCFile*>* finished) {
  if (!pending_) return;
  Wait();
  pending_ = false;
  const std::string* next = NextUnconverted(sys_, nullptr);
  if (!job_.compiled || next == nullptr || *next != job_.path || sys_.setupPhase ||
      command_.Aliases().size() != job_.aliases.size() ||
      sys_.log.errorsSinceLimit + job_.errors >= Diagnostics::kErrorLimit) {
    return;  // compiled here instead, when its turn comes
  }
  for (const Diagnostics::Report& report : job_.reports) sys_.log.Replay(report);
  sys_.AdoptDefinitions(job_.path, ahead_.LabelDefinitions, ahead_.FunctionDefinitions);
  sys_.NameUses.insert(sys_.NameUses.end(), ahead_.NameUses.begin(), ahead_.NameUses.end());
  if (job_.aliases_after.size() != job_.aliases.size()) command_.SetAliases(job_.aliases_after);
  sys_.Objects.at(job_.path)->keptCode = ahead_.Objects.at(job_.path)->keptCode;
  finished->insert(sys_.LoadedSources.at(job_.path).get());
}

void AheadCompiler::Stop() {
  if (!pending_) return;
  Wait();
  pending_ = false;
}

void AheadCompiler::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait(lock, [this] { return !busy_; });
}

void AheadCompiler::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return busy_ || quit_; });
    if (quit_) return;
    lock.unlock();
    Compile();
    lock.lock();
    busy_ = false;
    wake_.notify_all();
  }
}

// Compiles job_.path in ahead_ as the conversion would in its main phase.
void AheadCompiler::Compile() {
  KCSystem& sys = ahead_;
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
  job_.compiled = false;
  job_.reports.clear();
  sys.log.set_recorder(&job_.reports);

  KCCommand command(sys);
  command.InitCommandTable();
  command.DeleteSetupCommands();
  command.SetAliases(job_.aliases);
  KCFuncSet funcs(sys, command);
  StatementHandlers handlers(sys, command, funcs);
  Dispatcher dispatcher(sys, command, funcs, handlers);
  CommandReader reader(sys, command, dispatcher);
  if (!RegisterChecked(sys, job_.path) || !NextScript(sys)) return;
  reader.RunMainPhase();
  ReleaseSources(sys);

  job_.errors = 0;
  for (const Diagnostics::Report& report : job_.reports) {
    job_.errors += report.kind == Diagnostics::Kind::kError;
  }
  job_.aliases_after = command.Aliases();
  job_.compiled = sys.Objects.at(job_.path)->keptCode.data() != nullptr;
}

}  // namespace kv
