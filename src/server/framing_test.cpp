#include "server/framing.h"

#include <gtest/gtest.h>

#include "test_support/byte_sources.h"

namespace kv {
namespace {

std::string Frame(const std::string& body) {
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// What the reader makes of `input`, one line per message: the JSON as it
// reads back, or "error: ..."; read one byte at a time and all at once, which
// must agree.
std::string ReadAll(const std::string& input) {
  std::string results[2];
  for (size_t chunk : {size_t{1}, size_t{1} << 16}) {
    StringSource source(input, chunk);
    MessageReader reader(source);
    std::string& out = results[chunk == 1 ? 0 : 1];
    for (;;) {
      IncomingMessage message = reader.Next();
      if (message.kind == IncomingMessage::Kind::kEnd) break;
      out += message.kind == IncomingMessage::Kind::kMessage ? SerializeJson(message.value)
                                                             : "error: " + message.error;
      out += '\n';
    }
  }
  EXPECT_EQ(results[0], results[1]);
  return results[1];
}

TEST(MessageReader, ReadsFramesWhateverTheHeaderFieldsAndPieces) {
  EXPECT_EQ("{\"a\":1}\n[2]\n\"\xE3\x81\x82\"\n",
            ReadAll(Frame("{\"a\":1}") +
                    "content-length:3\r\nContent-Type: application/vscode-jsonrpc; charset=utf-8"
                    "\r\n\r\n[2]" +
                    "\r\n" +  // a stray blank line between messages
                    "Content-Length: 5\n\n\"\xE3\x81\x82\""));
}

TEST(MessageReader, MalformedHeadersAreReportedAndTheNextFrameIsRead) {
  const std::string next = Frame("7");
  EXPECT_EQ("error: malformed header: no Content-Length\n7\n",
            ReadAll("Content-Type: x\r\n\r\n{\"lost\":1}" + next));
  EXPECT_EQ("error: malformed header: bad Content-Length\n7\n",
            ReadAll("Content-Length: 1x\r\n\r\n{}" + next));
  EXPECT_EQ("error: malformed header: bad Content-Length\n7\n",
            ReadAll("Content-Length: 2\r\nContent-Length: 3\r\n\r\n{}" + next));
  EXPECT_EQ("error: malformed header: header line without ':'\n7\n",
            ReadAll("hello\r\n\r\n" + next));
  EXPECT_EQ("error: malformed header: header line too long\n7\n",
            ReadAll("Content-Length: " + std::string(2000, '1') + next));
  EXPECT_EQ("error: message is not JSON\n7\n", ReadAll(Frame("{\"a\":") + next));
  StringSource source("Content-Length: 101\r\n\r\n" + std::string(101, ' ') + next, 7);
  MessageReader reader(source, 100);
  EXPECT_EQ("message too long", reader.Next().error);
  EXPECT_EQ(Json(7), reader.Next().value);
  // A length far past the limit loses no later message.
  EXPECT_EQ("error: message too long\n7\n", ReadAll("Content-Length: 999999999999\r\n\r\n" + next));
  // A message cut short by the end of the input is the end.
  EXPECT_EQ("7\n", ReadAll(next + "Content-Length: 10\r\n\r\n{}"));
}

TEST(MessageReader, FramesAreWrittenWithTheirByteLength) {
  EXPECT_EQ("Content-Length: 14\r\n\r\n{\"a\":\"\xE3\x81\x82\xEF\xBF\xBD\"}",
            FrameMessage(Json::object({{"a", "\xE3\x81\x82\xFF"}})));
}

}  // namespace
}  // namespace kv
