#include "driver/kc_system.h"

#include "driver/file_search.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "source/source_loader.h"

namespace kv {
namespace {

constexpr std::string_view kMsgAddObject = "KCSystem::AddScript(2) オブジェクトの追加に失敗\n";
constexpr std::string_view kMsgNoMainScript =
    "メインスクリプトが \"%s\" ディレクトリに見つかりませんでした\n";
constexpr std::string_view kMsgNoObject =
    "KCSystem::GetObjectPos(1) オブジェクトが設定されていない\n";
constexpr std::string_view kMsgUtf8Bom =
    "ファイルの先頭に UTF-8 の BOM があります。スクリプトは Shift_JIS (CP932) で保存してください\n";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr char kMainScriptName[] = "main.txt";
// Temporary objects are named after their script with this mark appended.
constexpr char kObjectSuffix[] = "*";
constexpr uint32_t kObjectMode = ModeRead | ModeWrite | ModeTruncate | ModeBinary;

}  // namespace

KCSystem::KCSystem(FileSystem& file_system, MessageSink& sink, ConsoleEncoding encoding)
    : fs(file_system), log(sink, encoding), seedClock(ScrambleSeedTime) {
  log.set_current_source(&currentSource);
}

KCSystem::~KCSystem() = default;

bool KCSystem::AddScript(const std::string& path) {
  std::string absolute;
  if (!ResolvePath(*this, path, &absolute)) return false;
  if (LoadSource(*this, absolute) == nullptr) return false;
  if (Objects.count(absolute)) return true;
  auto object = std::make_unique<KCFile>(fs);
  std::string object_name = absolute + kObjectSuffix;
  if (!object->FileOpen(object_name, kObjectMode)) {
    log.Error(kMsgNameMayBeWrong, {LogArg::Path(object_name)});
  }
  if (!Objects.emplace(absolute, std::move(object)).second) {
    log.InternalError(kMsgAddObject);
    return false;
  }
  return true;
}

// Makes the registered script `it` current, loading its source if needed.
static bool MakeCurrent(KCSystem& sys, std::map<std::string, std::unique_ptr<KCFile>>::iterator it) {
  KCFile* source = nullptr;
  auto loaded = sys.LoadedSources.find(it->first);
  if (loaded != sys.LoadedSources.end()) {
    source = loaded->second.get();
  } else {
    source = LoadSource(sys, it->first);
  }
  if (source == nullptr) return false;
  sys.currentSource = source;
  sys.log.Message(kMsgConverting, {LogArg::Path(source->path)});
  // Scripts are CP932: a script saved as UTF-8 with a byte-order mark would
  // silently start with a statement of garbage. It is compiled as it is.
  if (std::string_view(source->contents).starts_with(kUtf8Bom)) {
    sys.log.WarningAt(source->path, 1, kMsgUtf8Bom);
  }
  sys.currentObject = it->second.get();
  sys.currentObject->contents.reserve(2 * source->contents.size());
  return true;
}

bool KCSystem::StartMainScript() {
  auto it = Objects.find(engineDirectory + kMainScriptName);
  if (it == Objects.end()) {
    log.Error(kMsgNoMainScript, {LogArg::Path(engineDirectory)});
    return false;
  }
  return MakeCurrent(*this, it);
}

bool KCSystem::NextScript() {
  // Every script made current leaves at least one byte in its object, and
  // objects are never emptied during conversion, so the scan can resume where
  // the previous one stopped.
  for (auto it = Objects.lower_bound(next_scan_); it != Objects.end(); ++it) {
    if (!it->second->contents.empty()) continue;
    next_scan_ = it->first;
    if (!MakeCurrent(*this, it)) return false;
    itemPosition = 0;
    return true;
  }
  next_scan_.clear();
  return false;
}

bool KCSystem::GetObjectPos(uint32_t* position) {
  if (currentObject == nullptr) {
    log.InternalError(kMsgNoObject);
    return false;
  }
  *position = currentObject->position;
  return true;
}

void KCSystem::RecordDefinition(const std::string& name, std::vector<DefinitionRecord>* list) {
  static const std::string kNoScript;
  const std::string& script = currentSource ? currentSource->path : kNoScript;
  NameIndex& names = definition_index_[list][script];
  auto [it, inserted] = names.try_emplace(name, list->size());
  if (!inserted) {
    RecordNameUse(list == &LabelDefinitions ? NameUse::kSecondLabel : NameUse::kSecondFunction, name);
    DefinitionRecord& record = (*list)[it->second];
    if (itemPosition < record.position) record.position = itemPosition;
    return;
  }
  list->push_back({name, script, itemPosition});
}

void KCSystem::RecordNameUse(NameUse::Kind kind, const std::string& name) {
  if (!checkOnly || currentSource == nullptr) return;
  NameUses.push_back({kind, name, currentSource->path, currentSource->line});
}

void KCSystem::ClearDefinitions() {
  LabelDefinitions.clear();
  FunctionDefinitions.clear();
  definition_index_.clear();
}

}  // namespace kv
