// The kvls program itself, over its standard input and output.
#include <gtest/gtest.h>

#include <string>

#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/version.h"
#include "test_support/temp_directory.h"

namespace kv {
namespace {

std::string Frame(const std::string& body) {
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A whole session: the channel carries CR LF and a Ctrl-Z byte unchanged in
// both directions (no text mode on Windows), and shutdown then exit ends it
// with status 0.
TEST(KvlsProgram, ASessionOverStandardInputAndOutput) {
  TempDirectory dir;
  const std::string uri =
      kNativeSeparator == '\\' ? "file:///C:/game/main.txt" : "file:///game/main.txt";
  const std::string session =
      Frame(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"capabilities":{}}})") +
      Frame(R"({"jsonrpc":"2.0","method":"initialized","params":{}})") +
      Frame(R"({"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":)"
            R"({"uri":")" + uri + R"(","version":1,"text":"text \"あ\";\r\n"}}})") +
      "Content-Length: 1\r\n\r\n\x1A" +
      Frame(R"({"jsonrpc":"2.0","id":2,"method":"textDocument/documentSymbol","params":)"
            R"({"textDocument":{"uri":")" + uri + R"("}}})") +
      Frame(R"({"jsonrpc":"2.0","id":3,"method":"shutdown"})") +
      Frame(R"({"jsonrpc":"2.0","method":"exit"})");
  WriteTestFile(dir / "session", session);
  ProgramRun run = RunProgram(ExecutableDirectory() + KV_KVLS_NAME, {"--stdio"}, dir.path(), {},
                              dir / "session");
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(Frame(std::string(R"({"id":1,"jsonrpc":"2.0","result":{"capabilities":)"
                              R"({"positionEncoding":"utf-16","textDocumentSync":{"change":2,)"
                              R"("openClose":true}},"serverInfo":{"name":"kvls","version":")") +
                  kVersion + "\"}}}") +
                Frame(R"({"error":{"code":-32700,"message":"message is not JSON"},"id":null,)"
                      R"("jsonrpc":"2.0"})") +
                Frame(R"({"id":2,"jsonrpc":"2.0","result":[]})") +
                Frame(R"({"id":3,"jsonrpc":"2.0","result":null})"),
            run.output);

  run = RunProgram(ExecutableDirectory() + KV_KVLS_NAME, {"--version"}, dir.path(), {});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(std::string("kvls ") + kVersion + "\n", run.output);
}

}  // namespace
}  // namespace kv
