// kvls: the language server of the script language, over standard input and
// output.
#include <string>
#include <string_view>

#include "platform/byte_stream.h"
#include "platform/console.h"
#include "platform/file_system.h"
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

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (word == "--version") {
      kv::WriteStdout(std::string("kvls ") + kv::kVersion + "\n");
      return 0;
    }
    if (word == "--help" || word == "-h") {
      kv::WriteStdout(kUsage);
      return 0;
    }
    // Editors' clients add these; standard input and output are the only
    // channel there is, and the server ends when its input does.
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
  kv::LanguageServer server(analysis, store, kv::NativePathStyle(), [&](const kv::Json& message) {
    if (output_open) output_open = kv::WriteStdoutAll(kv::FrameMessage(message));
  });
  return kv::RunMessageLoop(reader, server);
}
