#include "driver/cross_reference.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>

#include "context/kc_system.h"

namespace kv {
namespace {

constexpr std::string_view kMsgUndefinedFunction =
    "関数 \"%s\" はどのスクリプトにも定義されていません\n";
constexpr std::string_view kMsgUndefinedLabel =
    "ラベル \"%s\" はどのスクリプトにも定義されていません\n";
constexpr std::string_view kMsgSecondFunction =
    "関数 \"%s\" はこのスクリプトで既に定義されています (この定義は使われません)\n";
constexpr std::string_view kMsgSecondLabel =
    "ラベル \"%s\" はこのスクリプトで既に定義されています (この定義は使われません)\n";

// The names of the checks, for those that read diagnostics as records.
constexpr std::string_view kCheckUndefinedFunction = "undefined-function";
constexpr std::string_view kCheckUndefinedLabel = "undefined-label";
constexpr std::string_view kCheckSecondFunction = "duplicate-function";
constexpr std::string_view kCheckSecondLabel = "duplicate-label";
constexpr std::string_view kFirstDefinition = "first-definition";

std::unordered_set<std::string> Names(const std::vector<DefinitionRecord>& list) {
  std::unordered_set<std::string> names;
  for (const DefinitionRecord& record : list) names.insert(record.name);
  return names;
}

}  // namespace

void ReportCrossReferences(KCSystem& sys) {
  const std::unordered_set<std::string> labels = Names(sys.results.LabelDefinitions);
  const std::unordered_set<std::string> functions = Names(sys.results.FunctionDefinitions);
  std::stable_sort(sys.results.NameUses.begin(), sys.results.NameUses.end(),
                   [](const NameUse& a, const NameUse& b) {
                     return a.script != b.script ? a.script < b.script : a.line < b.line;
                   });
  for (const NameUse& use : sys.results.NameUses) {
    std::string_view message;
    std::string_view check;
    switch (use.kind) {
      case NameUse::kFunctionCall:
        if (functions.count(use.name) == 0) message = kMsgUndefinedFunction;
        check = kCheckUndefinedFunction;
        break;
      case NameUse::kGoto:
        if (labels.count(use.name) == 0) message = kMsgUndefinedLabel;
        check = kCheckUndefinedLabel;
        break;
      case NameUse::kSecondFunction:
        message = kMsgSecondFunction;
        check = kCheckSecondFunction;
        break;
      case NameUse::kSecondLabel:
        message = kMsgSecondLabel;
        check = kCheckSecondLabel;
        break;
    }
    if (message.empty()) continue;
    const RelatedPlace first{{use.script, use.firstLine, use.firstColumn}, kFirstDefinition};
    const bool second = use.firstLine > 0;
    sys.log.WarningAt({use.script, use.line, use.column}, message, {use.name},
                      {check, second ? std::span<const RelatedPlace>(&first, 1)
                                     : std::span<const RelatedPlace>()});
  }
  sys.results.NameUses.clear();
}

}  // namespace kv
