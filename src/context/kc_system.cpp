#include "context/kc_system.h"

#include "platform/clock.h"

namespace kv {
KCSystem::KCSystem(FileSystem& file_system, MessageSink& sink, ConsoleEncoding encoding)
    : fs(file_system), log(sink, encoding), seedClock(ScrambleSeedTime) {
  log.set_current_source(&currentSource);
}

KCSystem::~KCSystem() = default;

void KCSystem::RecordDefinition(const std::string& name, std::vector<DefinitionRecord>* list) {
  static const std::string kNoScript;
  const std::string& script = currentSource ? currentSource->path : kNoScript;
  if (definition_scripts_.empty() || script != definition_scripts_.back()) {
    label_index_.clear();
    function_index_.clear();
    definition_scripts_.push_back(script);
  }
  NameIndex& names = list == &LabelDefinitions ? label_index_ : function_index_;
  auto [it, inserted] = names.try_emplace(name, list->size());
  if (!inserted) {
    RecordNameUse(list == &LabelDefinitions ? NameUse::kSecondLabel : NameUse::kSecondFunction, name);
    DefinitionRecord& record = (*list)[it->second];
    if (itemPosition < record.position) record.position = itemPosition;
    return;
  }
  list->push_back({name, definition_scripts_.back(), itemPosition});
}

void KCSystem::RecordNameUse(NameUse::Kind kind, const std::string& name) {
  if (!checkOnly || currentSource == nullptr) return;
  NameUses.push_back({kind, name, currentSource->path, currentSource->line});
}

void KCSystem::KeepCode(KCFile& object) {
  const std::string_view kept = code.Keep(object.contents);
  if (kept.data() == nullptr) return;
  object.keptCode = kept;
  object.contents.clear();
  object.contents.swap(codeStorage);
}

void KCSystem::ClearDefinitions() {
  LabelDefinitions.clear();
  FunctionDefinitions.clear();
  label_index_.clear();
  function_index_.clear();
  definition_scripts_.clear();
}

}  // namespace kv
