// The cross-reference check of a --check run: function_call and goto targets
// that no script defines, and labels or functions defined twice in a script.
#pragma once

namespace kv {

class KCSystem;

// Warns of every such name recorded while the scripts were read, in source
// order (script path, then line). Call once every script has been read.
void ReportCrossReferences(KCSystem& sys);

}  // namespace kv
