#pragma once

#include <cstdint>

namespace kv {

// Seconds used to seed the output scrambling: SOURCE_DATE_EPOCH when it is set
// to a number (reproducible builds), else the current calendar time. Truncated
// to 32 bits.
uint32_t ScrambleSeedTime();

}  // namespace kv
