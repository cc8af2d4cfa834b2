#include "platform/clock.h"

#include <cstdlib>
#include <ctime>

namespace kv {

uint32_t ScrambleSeedTime() {
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
    char* end = nullptr;
    unsigned long long value = std::strtoull(epoch, &end, 10);
    if (end != epoch && *end == '\0' && epoch[0] != '-') return static_cast<uint32_t>(value);
  }
  return static_cast<uint32_t>(std::time(nullptr));
}

}  // namespace kv
