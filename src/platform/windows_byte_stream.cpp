// Standard input and output as byte channels on Windows: the C runtime's
// descriptors in binary mode, read and written directly.
#include <fcntl.h>
#include <io.h>

#include <climits>

#include "platform/byte_stream.h"

namespace kv {

void PrepareByteChannels() {
  _setmode(0, _O_BINARY);
  _setmode(1, _O_BINARY);
}

size_t ReadStdinSome(char* buffer, size_t size) {
  const unsigned int chunk = size > INT_MAX ? INT_MAX : static_cast<unsigned int>(size);
  int n = _read(0, buffer, chunk);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

bool WriteStdoutAll(std::string_view bytes) {
  while (!bytes.empty()) {
    const unsigned int chunk =
        bytes.size() > INT_MAX ? INT_MAX : static_cast<unsigned int>(bytes.size());
    int n = _write(1, bytes.data(), chunk);
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace kv
