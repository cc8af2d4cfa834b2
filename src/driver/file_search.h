// The walk over the search directory that sorts files into scripts, images,
// audio and movies by extension.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv {

class KCSystem;

struct ExtensionLists {
  std::vector<std::string> scripts, images, audio, movies;
};

// Walks `directory` (ending with a separator) down to `depth` levels below
// the top (compared unsigned, so -1 is unlimited). False when a registration
// failed; the walk then stops.
bool SearchFiles(KCSystem& sys, const std::string& directory, uint32_t level, int32_t depth,
                 bool* script_found, const ExtensionLists& extensions);

}  // namespace kv
