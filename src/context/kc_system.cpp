#include "context/kc_system.h"

#include "platform/clock.h"

namespace kv {
KCSystem::KCSystem(FileSystem& file_system, MessageSink& sink, ConsoleEncoding encoding)
    : fs(file_system), log(sink, encoding, &carried.errorsSinceLimit), seedClock(ScrambleSeedTime) {
  log.set_current_source(&script.currentSource);
}

KCSystem::~KCSystem() = default;

void KCSystem::RecordDefinition(const std::string& name, uint32_t offset,
                                std::vector<DefinitionRecord>* list) {
  static const std::string kNoScript;
  const std::string& path = script.currentSource ? script.currentSource->path : kNoScript;
  if (definition_scripts_.empty() || path != definition_scripts_.back()) {
    label_index_.clear();
    function_index_.clear();
    definition_scripts_.push_back(path);
  }
  const bool labels = list == &results.LabelDefinitions;
  NameIndex& names = labels ? label_index_ : function_index_;
  // The record goes in first: the index reads the names in the records.
  list->push_back({name, definition_scripts_.back(), script.itemPosition});
  IndexedName entry{static_cast<uint32_t>(list->size() - 1), 0, 0};
  if (auto first = names.find(entry); first != names.end()) {
    list->pop_back();
    const NameUse::Kind kind = labels ? NameUse::kSecondLabel : NameUse::kSecondFunction;
    NameUse* second = RecordNameUse(kind, name, offset);
    if (second != nullptr) {
      second->firstLine = first->line;
      second->firstColumn = first->column;
    }
    DefinitionRecord& record = (*list)[first->index];
    if (script.itemPosition < record.position) record.position = script.itemPosition;
    return;
  }
  if (options.checkOnly && script.currentSource != nullptr) {
    const SourcePlace place = Diagnostics::PlaceIn(*script.currentSource, offset);
    entry.line = place.line;
    entry.column = place.column;
  }
  names.insert(entry);
  // Where each script defines a label first, for the check of labels that
  // two scripts define.
  if (labels && options.checks.On(Check::kDuplicateLabel)) RecordNameUse(NameUse::kLabel, name, offset);
}

NameUse* KCSystem::RecordNameUse(NameUse::Kind kind, const std::string& name, uint32_t offset) {
  const SourceText* source = script.currentSource;
  if (!options.checkOnly || source == nullptr) return nullptr;
  const SourcePlace place = Diagnostics::PlaceIn(*source, offset);
  if (name_use_script_.str() != source->path) name_use_script_ = ScriptPath(source->path);
  return &results.NameUses.Add(
      NameUse{.name = name, .script = name_use_script_, .line = place.line, .column = place.column, .kind = kind});
}

void KCSystem::KeepCode(KCFile& object) {
  if (object.contents.empty()) return;
  if (!options.checkOnly) {
    const std::string_view kept = results.code.Move(&object.contents);
    if (kept.data() == nullptr) return;
    object.keptCode = kept;
  }
  object.codeKept = true;
  object.keptCodeSize = object.contents.size();
  object.contents.clear();
  object.contents.swap(results.codeStorage);
  // Storage grown by one large script goes back: the next scripts would
  // keep it for the rest of the run.
  if (results.codeStorage.capacity() > RunResults::kLargeStorage) std::string().swap(results.codeStorage);
}

void KCSystem::ClearDefinitions() {
  results.LabelDefinitions.clear();
  results.FunctionDefinitions.clear();
  label_index_.clear();
  function_index_.clear();
  definition_scripts_.clear();
}

}  // namespace kv
