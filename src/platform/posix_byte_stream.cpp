// Standard input and output as byte channels on POSIX: the file descriptors,
// read and written directly.
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/byte_stream.h"

namespace kv {

void PrepareByteChannels() { signal(SIGPIPE, SIG_IGN); }

size_t ReadStdinSome(char* buffer, size_t size) {
  for (;;) {
    ssize_t n = read(STDIN_FILENO, buffer, size);
    if (n < 0 && errno == EINTR) continue;
    return n > 0 ? static_cast<size_t>(n) : 0;
  }
}

bool WriteStdoutAll(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace kv
