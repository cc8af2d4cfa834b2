// Structural validation of object files: everything a reader of the file
// relies on, checked in file order so that the first problem is reported.
#pragma once

#include <string_view>

#include "kvdump/object_reader.h"

namespace kv::kvdump {

// Validates an object file as stored on disk: the scrambling key and step,
// then the unscrambled image (CheckImage). True when it is sound; otherwise
// false with the first problem found.
bool CheckStoredObject(std::string_view stored, Problem* problem);

// Validates an unscrambled image: the header size as the fields add up, the
// entries' offsets contiguous from the end of the header to the end of the
// image, every stored file followed by its zero byte, and for a script
// object every script's code: well-formed entries, parameter counts that
// match, jumps that land on a command of their own script, the end command
// or the "error" marker at the end, and labels and functions that name a
// command of a listed script.
bool CheckImage(std::string_view image, Problem* problem);

}  // namespace kv::kvdump
