// Loading of script sources: each is read once, its comments removed, and kept
// in KCSystem::LoadedSources for the whole conversion.
#pragma once

#include <string>

namespace kv {

class KCFile;
class KCSystem;

// Loads `name` (relative or absolute); null when it cannot be loaded. A source
// loaded before is returned unchanged, with a warning.
KCFile* LoadSource(KCSystem& sys, const std::string& name);
// Removes "//" and "/* */" comments in place, keeping every line feed.
bool RemoveComments(KCSystem& sys, KCFile& file);
void ReleaseSources(KCSystem& sys);

}  // namespace kv
