#include "server/message_loop.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "platform/signals.h"
#include "test_support/byte_sources.h"
#include "test_support/memory_file_system.h"
#include "test_support/recording_analysis.h"

namespace kv {
namespace {

std::string Frames(std::initializer_list<std::string> bodies) {
  std::string frames;
  for (const std::string& body : bodies) {
    frames += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  }
  return frames;
}

const std::string kInitialize =
    R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"rootUri":"file:///game"}})";
std::string Change(int version) {
  return R"({"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":)"
         R"({"uri":"file:///game/main.txt","version":)" +
         std::to_string(version) + R"(},"contentChanges":[{"text":"x"}]}})";
}

class MessageLoopTest : public ::testing::Test {
 protected:
  // Waits until the server has sent `text` (at most ten seconds).
  bool WaitFor(const std::string& text) {
    std::unique_lock<std::mutex> lock(mutex);
    return sent_changed.wait_for(lock, std::chrono::seconds(10),
                                 [&] { return out.find(text) != std::string::npos; });
  }

  MemoryFileSystem fs;
  RecordingAnalysis analysis;
  DocumentStore store{fs};
  std::mutex mutex;
  std::condition_variable sent_changed;
  std::string out;
  LanguageServer server{analysis, store, PathStyle::kPosix, [this](const Json& message) {
                          std::lock_guard<std::mutex> lock(mutex);
                          out += SerializeJson(message) + "\n";
                          sent_changed.notify_all();
                        }};
};

TEST_F(MessageLoopTest, ChangesInQuickSuccessionAreAnalysedOnce) {
  SourceDiagnostic diagnostic;
  analysis.diagnostics = {{"/game/main.txt", {diagnostic}}};
  PipeSource input;
  MessageReader reader(input);
  int status = -1;
  // The open document and two changes come at once: one analysis after the
  // pause. A change just before a query: an analysis before the answer.
  input.Write(
      Frames({kInitialize, R"({"jsonrpc":"2.0","method":"initialized","params":{}})",
              R"({"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":)"
              R"({"uri":"file:///game/main.txt","version":1,"text":""}}})",
              Change(2), Change(3)}));
  std::thread loop =
      StartThread([&] { status = RunMessageLoop(reader, server, std::chrono::milliseconds(300)); });
  EXPECT_TRUE(WaitFor("publishDiagnostics"));
  input.Write(
      Frames({Change(4), R"({"jsonrpc":"2.0","id":2,"method":"textDocument/hover","params":)"
                         R"({"textDocument":{"uri":"file:///game/main.txt"},)"
                         R"("position":{"line":0,"character":0}}})"}));
  EXPECT_TRUE(WaitFor(R"("id":2)"));
  input.Write(Frames(
      {R"({"jsonrpc":"2.0","id":3,"method":"shutdown"})", R"({"jsonrpc":"2.0","method":"exit"})"}));
  loop.join();
  EXPECT_EQ(0, status);
  EXPECT_EQ(2, analysis.analyses);
  EXPECT_EQ(1u, analysis.queries.size());
  EXPECT_NE(std::string::npos, out.find(R"("uri":"file:///game/main.txt","version":3)"));
  EXPECT_NE(std::string::npos, out.find(R"({"id":3,"jsonrpc":"2.0","result":null})"));
}

TEST_F(MessageLoopTest, TheEndOfTheInputEndsTheServerWithFailure) {
  StringSource input(Frames({kInitialize}) + "Content-Length: 99\r\n\r\n{");
  MessageReader reader(input);
  EXPECT_EQ(1, RunMessageLoop(reader, server));
  EXPECT_NE(std::string::npos, out.find(R"({"id":1,"jsonrpc":"2.0","result":)"));
}

TEST_F(MessageLoopTest, AQueueBoundSmallerThanAMessageStillPassesEveryMessage) {
  const std::string hover = R"({"jsonrpc":"2.0","id":2,"method":"textDocument/hover","params":)"
                            R"({"textDocument":{"uri":"file:///game/main.txt"},)"
                            R"("position":{"line":0,"character":0}}})";
  StringSource input(Frames({kInitialize, R"({"jsonrpc":"2.0","method":"initialized","params":{}})",
                             Change(2), hover, R"({"jsonrpc":"2.0","id":3,"method":"shutdown"})",
                             R"({"jsonrpc":"2.0","method":"exit"})"}));
  MessageReader reader(input);
  EXPECT_EQ(0, RunMessageLoop(reader, server, std::chrono::milliseconds(1), 1));
  EXPECT_NE(std::string::npos, out.find(R"("id":2,"jsonrpc":"2.0","result":null)")) << out;
  EXPECT_NE(std::string::npos, out.find(R"({"id":3,"jsonrpc":"2.0","result":null})"));
}

}  // namespace
}  // namespace kv
