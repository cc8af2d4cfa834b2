// The tokenizer: reads the next statement of a source into the current
// statement of KCCommand as parameters of elements.
#pragma once

#include <cstdint>

namespace kv {

class KCCommand;
class KCFile;
class KCSystem;

enum StatementResult : uint8_t {
  StatementRead = 0,
  StatementSyntaxError = 1,
  StatementEnd = 0xFF,  // the source has no further statement
};

uint8_t ReadStatement(KCSystem& sys, KCCommand& command, KCFile& source);

}  // namespace kv
