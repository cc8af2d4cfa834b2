#include "output/scramble_object.h"

#include "output/scramble.h"
#include "source/pell_file.h"

namespace kv {

void ScrambleObject(PellFile& file, uint32_t seed) {
  ScrambleInPlace(&file.contents, MakeScrambleKey(seed));
  file.position = 0;
  file.line = 1;
}

}  // namespace kv
