// Messages of the protocol on a byte stream, each a header and a JSON body:
//
//   Content-Length: 52\r\n
//   \r\n
//   {"jsonrpc":"2.0","id":1,"method":"shutdown"}...
//
// Header fields other than Content-Length are ignored (Content-Type names the
// only encoding there is, UTF-8).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "server/json.h"

namespace kv {

// Where a reader's bytes come from: standard input in the program, a string
// or a pipe of the test's own in tests.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads at most `size` bytes, waiting until there is one; 0 at the end.
  virtual size_t Read(char* buffer, size_t size) = 0;
};

struct IncomingMessage {
  enum class Kind {
    kMessage,     // `value` holds the message's JSON
    kParseError,  // a header or body that is malformed; `error` says how
    kEnd,         // the input ended
  };
  Kind kind = Kind::kEnd;
  Json value;
  std::string error;
  size_t bytes = 0;  // the length of the body
};

class MessageReader {
 public:
  // A body longer than `max_body_bytes` is reported as a parse error, and
  // the reader goes on at the next header after it.
  static constexpr size_t kMaxBodyBytes = size_t{64} << 20;

  explicit MessageReader(ByteSource& source, size_t max_body_bytes = kMaxBodyBytes)
      : source_(source), max_body_bytes_(max_body_bytes) {}

  // The next message. After a malformed header the reader looks for the next
  // "Content-Length" and goes on from there; a message cut short by the end
  // of the input is the end.
  IncomingMessage Next();

 private:
  enum class Line { kRead, kTooLong, kEnd };
  bool Fill();
  Line ReadLine(std::string* line);
  void SkipToNextHeader();

  ByteSource& source_;
  const size_t max_body_bytes_;
  std::unique_ptr<char[]> chunk_;  // what one read of the source takes
  std::string buffer_;
  size_t pos_ = 0;  // the first byte of buffer_ not yet read
};

// The message with its header, as it is written.
std::string FrameMessage(const Json& message);
// The header that goes before a serialized message of `body_bytes` bytes:
// a large message is written as its header and then its body, never copied
// into one string with it.
std::string FrameHeader(size_t body_bytes);

}  // namespace kv
