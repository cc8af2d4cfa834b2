#pragma once

#include <cstdint>

namespace kv {

class PellFile;

// Replaces the file's contents with their scrambled form (key and step drawn
// from `seed`) and rewinds it (position 0, line 1). Writes nothing to disk.
void ScrambleObject(PellFile& file, uint32_t seed);

}  // namespace kv
