// The walk over the search directory that sorts files into scripts, images,
// audio and movies by extension.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// A name that the system gives with a character CP932 lacks: the stored
// names are CP932, so such a file is left out and the run fails. The name is
// quoted as the system gives it (UTF-8).
inline constexpr std::string_view kMsgNoCp932Name =
    "\"%s\" の名前は Shift_JIS (CP932) で表せません\n";

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
