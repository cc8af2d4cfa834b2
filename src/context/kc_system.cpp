#include "context/kc_system.h"

#include <algorithm>

#include "platform/bulk_memory.h"
#include "platform/clock.h"

namespace kv {
KCSystem::KCSystem(FileSystem& file_system, MessageSink& sink, ConsoleEncoding encoding)
    : fs(file_system), log(sink, encoding, &carried.errorsSinceLimit), seedClock(ScrambleSeedTime) {
  log.set_current_source(&script.currentSource);
}

KCSystem::~KCSystem() = default;

void KCSystem::RecordDefinition(const std::string& name, uint32_t offset, DefinitionList* list) {
  static const std::string kNoScript;
  const std::string& path = script.currentSource ? script.currentSource->path : kNoScript;
  if (!definitions_indexed_ || definition_scripts_.empty() || path != definition_scripts_.back()) {
    EndDefinitionIndex();
    definition_scripts_.push_back(path);
    definitions_indexed_ = true;
  }
  const bool labels = list == &results.LabelDefinitions;
  DefinitionPlaces& places = labels ? label_places_ : function_places_;
  lastDefinition = {.recorded = true};
  if (const int64_t first = list->Find(name); first >= 0) {
    lastDefinition.second = true;
    const size_t placed = static_cast<size_t>(first) - places.first;
    if (placed < places.at.size()) {
      lastDefinition.firstLine = places.at[placed].first;
      lastDefinition.firstColumn = places.at[placed].second;
    }
    DefinitionRecord& record = (*list)[static_cast<size_t>(first)];
    if (script.itemPosition < record.position) record.position = script.itemPosition;
    return;
  }
  list->Add(name, &definition_scripts_.back(), script.itemPosition);
  if (options.checkOnly) {
    SourcePlace place{};
    if (script.currentSource != nullptr) place = Diagnostics::PlaceIn(*script.currentSource, offset);
    places.at.emplace_back(place.line, place.column);
  }
}

void KCSystem::EndDefinitionIndex() {
  results.LabelDefinitions.ClearIndex();
  results.FunctionDefinitions.ClearIndex();
  for (auto [places, kept] : {std::pair{&label_places_, &results.LabelDefinitions},
                              std::pair{&function_places_, &results.FunctionDefinitions}}) {
    places->first = kept->size();
    std::vector<std::pair<int32_t, int32_t>>().swap(places->at);
  }
  definitions_indexed_ = false;
}

void KCSystem::KeepCode(KCFile& object) {
  // The script is done: the index of its names goes before its code moves.
  EndDefinitionIndex();
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

void KCSystem::DiscardCodeBehind() {
  // Large enough that a script of ordinary size never gets here, and that
  // the few pages patched again behind the position do not add up.
  constexpr size_t kStep = size_t{4} << 20;
  KCFile* object = script.currentObject;
  if (!options.checkOnly || object == nullptr) return;
  const size_t end = std::min<size_t>(object->position, object->contents.size());
  // Storage that moved (grown, or taken over from another script) holds
  // every byte again.
  if (object->contents.data() != object->codeDiscardedIn || object->codeDiscardedTo > end) {
    object->codeDiscardedIn = object->contents.data();
    object->codeDiscardedTo = 0;
  }
  if (end - object->codeDiscardedTo < kStep) return;
  DiscardPages(object->contents.data() + object->codeDiscardedTo, end - object->codeDiscardedTo);
  object->codeDiscardedTo = end;
}

void KCSystem::ClearDefinitions() {
  results.LabelDefinitions.clear();
  results.FunctionDefinitions.clear();
  label_places_ = {};
  function_places_ = {};
  definition_scripts_.clear();
}

}  // namespace kv
