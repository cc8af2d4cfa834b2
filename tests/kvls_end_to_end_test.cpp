// The kvls program itself, over its standard input and output.
#include <gtest/gtest.h>

#include <string>

#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/version.h"
#include "server/uri.h"
#include "test_support/temp_directory.h"

namespace kv {
namespace {

std::string Frame(const std::string& body) {
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A whole session over a game on the disk: the game's diagnostics are
// published at the start, the channel carries CR LF and a Ctrl-Z byte
// unchanged in both directions (no text mode on Windows), an open document
// that reads as the file does publishes nothing new, and shutdown then exit
// ends it with status 0.
TEST(KvlsProgram, ASessionOverStandardInputAndOutput) {
  TempDirectory dir;
  WriteTestFile(dir / "main.txt", "create_window;\r\nstart:\r\ngoto nowhere;\r\n");
  const std::string root = PathToUri(dir.path(), NativePathStyle());
  const std::string uri = PathToUri(dir / "main.txt", NativePathStyle());
  const std::string session =
      Frame(
          R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"capabilities":{},"rootUri":")" +
          root + R"("}})") +
      Frame(R"({"jsonrpc":"2.0","method":"initialized","params":{}})") +
      Frame(R"({"jsonrpc":"2.0","id":2,"method":"textDocument/documentSymbol","params":)"
            R"({"textDocument":{"uri":")" +
            uri + R"("}}})") +
      "Content-Length: 1\r\n\r\n\x1A" +
      Frame(R"({"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":)"
            R"({"uri":")" +
            uri + R"(","version":1,"text":"create_window;\r\nstart:\r\ngoto nowhere;\r\n"}}})") +
      Frame(R"({"jsonrpc":"2.0","id":3,"method":"shutdown"})") +
      Frame(R"({"jsonrpc":"2.0","method":"exit"})");
  WriteTestFile(dir / "session", session);
  ProgramRun run = RunProgram(ExecutableDirectory() + KV_KVLS_NAME, {"--stdio"}, dir.path(), {},
                              dir / "session");
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(
      Frame(std::string(
                R"({"id":1,"jsonrpc":"2.0","result":{"capabilities":)"
                R"({"completionProvider":{"triggerCharacters":["\""]},)"
                R"("definitionProvider":true,"documentSymbolProvider":true,)"
                R"("hoverProvider":true,"positionEncoding":"utf-16",)"
                R"("referencesProvider":true,"renameProvider":true,)"
                R"("textDocumentSync":{"change":2,"openClose":true},)"
                R"("workspaceSymbolProvider":true},"serverInfo":{"name":"kvls","version":")") +
            kVersion + "\"}}}") +
          Frame(R"({"jsonrpc":"2.0","method":"kvscript/status","params":{"state":"analysing"}})") +
          Frame(
              R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":)"
              R"({"diagnostics":[{"code":"undefined-label","message":"ラベル \"nowhere\" はどのスクリプトにも定義されていません",)"
              R"("range":{"end":{"character":12,"line":2},"start":{"character":5,"line":2}},)"
              R"("severity":2,"source":"KVConverter"}],"uri":")" +
              uri + R"("}})") +
          Frame(R"({"jsonrpc":"2.0","method":"kvscript/status","params":{"state":"ready"}})") +
          Frame(R"({"id":2,"jsonrpc":"2.0","result":[{"kind":20,"location":{"range":)"
                R"({"end":{"character":5,"line":1},"start":{"character":0,"line":1}},"uri":")" +
                uri + R"("},"name":"start"}]})") +
          Frame(R"({"error":{"code":-32700,"message":"message is not JSON"},"id":null,)"
                R"("jsonrpc":"2.0"})") +
          Frame(R"({"id":3,"jsonrpc":"2.0","result":null})"),
      run.output);

  run = RunProgram(ExecutableDirectory() + KV_KVLS_NAME, {"--version"}, dir.path(), {});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(std::string("kvls ") + kVersion + "\n", run.output);
}

// What kvls answers comes from the game's own names: a script named outside
// the game folder leads nowhere (the file there is not read), and a rename
// that would merge two labels is refused, naming the label already there.
TEST(KvlsProgram, AnswersFromTheGamesNamesOnly) {
  TempDirectory dir;
  WriteTestFile(dir / "secret.txt", "start:\n");
  const std::string game = dir / "game";
  WriteTestFile(dir / "game/main.txt",
                "create_window;\nstart:\nending:\nscript_change \"../secret.txt\";\n");
  const std::string uri = PathToUri(dir / "game/main.txt", NativePathStyle());
  auto ask = [&](int id, const std::string& method, int line, int character, const std::string& more) {
    return Frame(R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":")" + method +
                 R"(","params":{"textDocument":{"uri":")" + uri + R"("},"position":{"line":)" +
                 std::to_string(line) + R"(,"character":)" + std::to_string(character) + "}" +
                 more + "}}");
  };
  const std::string session =
      Frame(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"capabilities":{},"rootUri":")" +
            PathToUri(game, NativePathStyle()) + R"("}})") +
      Frame(R"({"jsonrpc":"2.0","method":"initialized","params":{}})") +
      ask(2, "textDocument/definition", 3, 18, "") +
      ask(3, "textDocument/rename", 1, 0, R"(,"newName":"ending")") +
      Frame(R"({"jsonrpc":"2.0","id":4,"method":"shutdown"})") +
      Frame(R"({"jsonrpc":"2.0","method":"exit"})");
  WriteTestFile(dir / "session", session);
  ProgramRun run = RunProgram(ExecutableDirectory() + KV_KVLS_NAME, {"--stdio"}, dir.path(), {},
                              dir / "session");
  EXPECT_EQ(0, run.status);
  const std::string output = run.output;
  EXPECT_NE(std::string::npos, output.find(Frame(R"({"id":2,"jsonrpc":"2.0","result":[]})")))
      << output;
  EXPECT_NE(std::string::npos,
            output.find(Frame(R"({"error":{"code":-32803,"message":"\"ending\" はすでに main.txt 3 )"
                              R"(行目に定義されています"},"id":3,"jsonrpc":"2.0"})")))
      << output;
}

}  // namespace
}  // namespace kv
