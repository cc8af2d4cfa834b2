// kvls on a large game: the time from a didChange in one script to the
// publishDiagnostics that answers it, over replayed edits, against a whole
// `KVConverter --check` of the same game in the same run (what the server
// would pay if it converted everything after each edit).
//
//   kvls_edit_bench DIRECTORY [EDITS]
//
// DIRECTORY is a game that make_script_tree wrote (bench/make_script_tree
// DIR 25 385 for the large one). Each edit goes to another scene script,
// opened first (untimed); it adds a block left open at the script's end, or
// takes it away again, so that every edit changes that script's
// diagnostics. Every other pair of edits also defines a new label with the
// block and takes it away with it: those edits change which names the game
// defines, and the cross-script check of the whole game runs again; their
// figures are printed apart. The server is driven in this thread, without the pause in
// which it gathers quick changes. Prints the minimum, median and maximum
// milliseconds of the edits and of the whole checks, their ratio, and the
// peak memory of the process after the edits (before the checks ran).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "context/diagnostics.h"
#include "driver/converter.h"
#include "platform/file_system.h"
#include "server/language_server.h"
#include "server/uri.h"
#include "workspace/document_store.h"
#include "workspace/game_analysis.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Figures {
  double min, median, max;
};

Figures Summary(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return {values.front(), values[values.size() / 2], values.back()};
}

kv::Json Message(const char* method, kv::Json params, int id = 0) {
  kv::Json message = kv::Json::object();
  message["jsonrpc"] = "2.0";
  if (id != 0) message["id"] = id;
  message["method"] = method;
  message["params"] = std::move(params);
  return message;
}

class DiscardSink : public kv::MessageSink {
 public:
  void Write(std::string_view) override {}
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY [EDITS]\n", argv[0]);
    return 2;
  }
  std::string dir = kv::RealFileSystem().AbsolutePath(argv[1]);
  const int edits = argc > 2 ? std::max(1, std::atoi(argv[2])) : 100;
  const std::string root_uri = "file://" + dir;

  kv::DocumentStore store(kv::RealFileSystem());
  kv::GameAnalysis analysis(kv::RealFileSystem());
  std::string published_uri;
  Clock::time_point published_at;
  kv::LanguageServer server(analysis, store, kv::NativePathStyle(), [&](const kv::Json& message) {
    const kv::Json* method = kv::Member(message, "method");
    if (method && *method == "textDocument/publishDiagnostics" && published_uri.empty()) {
      published_uri = message["params"]["uri"];
      published_at = Clock::now();
    }
  });
  auto handle = [&](kv::Json message) {
    kv::IncomingMessage incoming;
    incoming.kind = kv::IncomingMessage::Kind::kMessage;
    incoming.value = std::move(message);
    server.Handle(incoming);
  };
  handle(Message("initialize", {{"rootUri", root_uri}, {"capabilities", kv::Json::object()}}, 1));
  handle(Message("initialized", kv::Json::object()));
  const Clock::time_point start = Clock::now();
  server.AnalyseAndPublish();
  const double first = Ms(Clock::now() - start);

  std::vector<double> edit_ms, name_ms;
  int scripts = 0;
  while (kv::RealFileSystem().Exists(dir + "/scenes/scene" + std::to_string(scripts) + ".txt"))
    ++scripts;
  if (scripts == 0) {
    std::fprintf(stderr, "%s holds no scenes/sceneN.txt\n", dir.c_str());
    return 1;
  }
  for (int i = 0; i < edits; ++i) {
    const int scene = (i / 2 * 37) % scripts;
    const std::string uri = root_uri + "/scenes/scene" + std::to_string(scene) + ".txt";
    std::string path;
    kv::UriToPath(uri, kv::NativePathStyle(), &path);
    std::string err;
    const auto text =
        kv::ReadDocumentText(kv::RealFileSystem(), path, kv::SourceEncoding::kCp932, &err);
    if (!text) {
      std::fprintf(stderr, "%s: %s\n", path.c_str(), err.c_str());
      return 1;
    }
    const int lines = text->LineCount();
    if (i % 2 == 0) {
      handle(Message(
          "textDocument/didOpen",
          {{"textDocument",
            {{"uri", uri}, {"version", 1}, {"languageId", "kvscript"}, {"text", text->utf8()}}}}));
      server.AnalyseAndPublish();
    }
    // Even edits leave an if open at the end; odd ones take it away.
    const bool defines_name = i / 2 % 2 == 1;
    const std::string added =
        defines_name ? "kvls_edit_" + std::to_string(i / 2) + ": if 1;" : "if 1;";
    kv::Json range = {{"start", {{"line", lines - 1}, {"character", 0}}},
                      {"end", {{"line", lines - 1}, {"character", i % 2 == 0 ? 0 : added.size()}}}};
    kv::Json change = {{"range", range}, {"text", i % 2 == 0 ? added : ""}};
    published_uri.clear();
    const Clock::time_point edited = Clock::now();
    handle(Message("textDocument/didChange", {{"textDocument", {{"uri", uri}, {"version", i + 2}}},
                                              {"contentChanges", kv::Json::array({change})}}));
    server.AnalyseAndPublish();
    if (published_uri != uri) {
      std::fprintf(stderr, "edit %d of %s published %s\n", i, uri.c_str(), published_uri.c_str());
      return 1;
    }
    (defines_name ? name_ms : edit_ms).push_back(Ms(published_at - edited));
    if (i % 2 == 1) {
      handle(Message("textDocument/didClose", {{"textDocument", {{"uri", uri}}}}));
      server.AnalyseAndPublish();
    }
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double peak_mib = usage.ru_maxrss / 1024.0;

  // The baseline: whole checks of the same game.
  std::vector<double> check_ms;
  for (int round = 0; round < 7; ++round) {
    DiscardSink sink;
    kv::ConverterEnvironment env{kv::RealFileSystem(), sink, kv::ConsoleEncoding::kCp932,
                                 [] { return 1u; }, nullptr};
    const Clock::time_point checked = Clock::now();
    kv::RunConverter({"KVConverter", "--check", "-xd", dir, "-td", dir, "-so", dir + "/script.kvo"},
                     env);
    check_ms.push_back(Ms(Clock::now() - checked));
  }

  const Figures e = Summary(edit_ms);
  const Figures n = Summary(name_ms);
  const Figures c = Summary(check_ms);
  std::printf("first analysis            %8.1f ms (%d full, %d single-script compiles in all)\n",
              first, analysis.full_runs(), analysis.script_compiles());
  std::printf("edit -> publish, %3zu edits min %6.2f  median %6.2f  max %6.2f ms\n", edit_ms.size(),
              e.min, e.median, e.max);
  std::printf("  defining names, %3zu edits min %6.2f  median %6.2f  max %6.2f ms\n",
              name_ms.size(), n.min, n.median, n.max);
  std::printf("whole --check, 7 rounds    min %6.2f  median %6.2f  max %6.2f ms\n", c.min, c.median,
              c.max);
  std::printf("median edit / median check  %.3f (defining names %.3f)\n", e.median / c.median,
              n.median / c.median);
  std::printf("peak memory after the edits %.1f MiB\n", peak_mib);
  return 0;
}
