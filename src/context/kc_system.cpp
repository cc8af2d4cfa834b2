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
  auto [it, inserted] = names.try_emplace(name, IndexedName{list->size(), 0, 0});
  if (inserted && options.checkOnly && script.currentSource != nullptr) {
    const SourcePlace place = Diagnostics::PlaceIn(*script.currentSource, offset);
    it->second.line = place.line;
    it->second.column = place.column;
  }
  if (!inserted) {
    const NameUse::Kind kind = labels ? NameUse::kSecondLabel : NameUse::kSecondFunction;
    NameUse* second = RecordNameUse(kind, name, offset);
    if (second != nullptr) {
      second->firstLine = it->second.line;
      second->firstColumn = it->second.column;
    }
    DefinitionRecord& record = (*list)[it->second.index];
    if (script.itemPosition < record.position) record.position = script.itemPosition;
    return;
  }
  list->push_back({name, definition_scripts_.back(), script.itemPosition});
  // Where each script defines a label first, for the check of labels that
  // two scripts define.
  if (labels && options.checks.On(Check::kDuplicateLabel)) RecordNameUse(NameUse::kLabel, name, offset);
}

NameUse* KCSystem::RecordNameUse(NameUse::Kind kind, const std::string& name, uint32_t offset) {
  const SourceText* source = script.currentSource;
  if (!options.checkOnly || source == nullptr) return nullptr;
  const SourcePlace place = Diagnostics::PlaceIn(*source, offset);
  if (name_use_script_.str() != source->path) name_use_script_ = ScriptPath(source->path);
  return &results.NameUses.emplace_back(
      NameUse{kind, name, name_use_script_, place.line, place.column});
}

const std::string& ScriptPath::Empty() {
  static const std::string kEmpty;
  return kEmpty;
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
