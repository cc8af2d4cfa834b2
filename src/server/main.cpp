// kvls: the language server of the script language, over standard input and
// output.
#include <chrono>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>

#include "platform/byte_stream.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/mutex.h"
#include "platform/process_liveness.h"
#include "platform/signals.h"
#include "platform/version.h"
#include "server/framing.h"
#include "server/language_server.h"
#include "server/message_loop.h"
#include "server/uri.h"
#include "workspace/document_store.h"
#include "workspace/game_analysis.h"

namespace {

class StdinSource : public kv::ByteSource {
 public:
  size_t Read(char* buffer, size_t size) override { return kv::ReadStdinSome(buffer, size); }
};

constexpr std::string_view kUsage =
    "usage: kvls [--stdio]\n"
    "The language server of KVConverter's scripts: it speaks the Language Server\n"
    "Protocol over standard input and output, started by an editor.\n";

// How often the watcher looks whether the client's process still runs.
constexpr std::chrono::seconds kClientCheckInterval{1};

// The client's process, as --clientProcessId=N names it; 0 when none does
// (and for a value that is not a process id).
int64_t ClientProcessArgument(std::string_view word) {
  constexpr std::string_view kWord = "--clientProcessId=";
  if (!word.starts_with(kWord)) return 0;
  word.remove_prefix(kWord.size());
  int64_t id = 0;
  for (char c : word) {
    if (c < '0' || c > '9' || id > (int64_t{1} << 40)) return 0;
    id = id * 10 + (c - '0');
  }
  return id;
}

// Ends the server when its client has gone without closing the channel (an
// editor window killed, a remote session left): a client may keep the pipe
// open long after it stopped reading, and the server would run on for
// nothing. The id that initialize gives counts once it has come. The watch
// stops, and its thread is joined, before the server it reads goes.
class ClientWatch {
 public:
  ClientWatch(const kv::LanguageServer& server, int64_t argument_id)
      : server_(server), argument_id_(argument_id), thread_(kv::StartThread([this] { Run(); })) {}
  ~ClientWatch() LOCKS_EXCLUDED(mutex_) {
    {
      kv::MutexLock lock(&mutex_);
      stopped_ = true;
    }
    wake_.Signal();
    thread_.join();
  }

 private:
  void Run() LOCKS_EXCLUDED(mutex_) {
    kv::MutexLock lock(&mutex_);
    for (;;) {
      const auto deadline = std::chrono::steady_clock::now() + kClientCheckInterval;
      while (!stopped_ && wake_.WaitUntil(deadline)) {
      }
      if (stopped_) return;
      const int64_t id = server_.client_process_id() != 0 ? server_.client_process_id() : argument_id_;
      // Whoever would read the rest of the output has gone: ending at once
      // loses nothing.
      if (id != 0 && !kv::ProcessIsRunning(id)) std::_Exit(1);
    }
  }

  const kv::LanguageServer& server_;
  const int64_t argument_id_;
  kv::Mutex mutex_;
  kv::CondVar wake_{&mutex_};
  bool stopped_ GUARDED_BY(mutex_) = false;
  std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
  int64_t client_id = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (const int64_t id = ClientProcessArgument(word); id != 0) client_id = id;
    if (word == "--version") {
      kv::WriteStdout(std::string("kvls ") + kv::kVersion + "\n");
      return 0;
    }
    if (word == "--help" || word == "-h") {
      kv::WriteStdout(kUsage);
      return 0;
    }
    // Editors' clients add these; standard input and output are the only
    // channel there is, and the server ends when its input does, or when the
    // client's process has gone.
    if (word == "--stdio" || word.starts_with("--clientProcessId")) continue;
    kv::WriteStderr("kvls: unknown option " + std::string(word) + "\n" + std::string(kUsage));
    return 1;
  }
  kv::PrepareByteChannels();
  StdinSource input;
  kv::MessageReader reader(input);
  kv::DocumentStore store(kv::RealFileSystem());
  kv::GameAnalysis analysis(kv::RealFileSystem());
  bool output_open = true;
  kv::LanguageServer server(
      analysis, store, kv::NativePathStyle(),
      [&](const kv::Json& message) {
        if (!output_open) return;
        const std::string body = kv::SerializeJson(message);
        output_open = kv::WriteStdoutAll(kv::FrameHeader(body.size())) && kv::WriteStdoutAll(body);
      },
      [&](size_t bytes, const kv::LanguageServer::Body& body) {
        if (!output_open) return;
        output_open = kv::WriteStdoutAll(kv::FrameHeader(bytes));
        body([&](std::string_view piece) {
          if (output_open) output_open = kv::WriteStdoutAll(piece);
        });
      });
  ClientWatch watch(server, client_id);
  return kv::RunMessageLoop(reader, server);
}
