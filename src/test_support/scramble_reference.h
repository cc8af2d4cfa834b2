// The scrambling written plainly, byte by byte, as the reference the tests
// compare the product's block-wise scrambler with.
#pragma once

#include <string>
#include <string_view>

#include "output/scramble.h"

namespace kv {

// The stored form of `contents` under key and step `k`.
std::string ScrambleBytes(std::string_view contents, ScrambleKey k);

}  // namespace kv
