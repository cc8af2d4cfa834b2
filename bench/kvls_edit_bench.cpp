// kvls on a large game: the time from a didChange in one script to the
// publishDiagnostics that answers it, over replayed edits, against a whole
// `KVConverter --check` of the same game in the same run (what the server
// would pay if it converted everything after each edit).
//
//   kvls_edit_bench [--verify] [--main-only] DIRECTORY... [EDITS]
//
// Each DIRECTORY is a game that make_script_tree wrote (bench/make_script_tree
// DIR 25 385 for the large one, with --no-media for the same game without its
// pictures and sounds); each is measured in a process of its own, and the
// figures of all are printed side by side. Edits of main.txt are timed
// apart, of two kinds: three that add a text statement before its last line
// (and three that take it away again), which change nothing that main.txt
// hands on to the scripts after it; and three that add a variable's
// declaration there (and three that take it away, timed apart), and three
// that make an alias there (and take it away, timed apart), which change
// the state every other script starts from. With --verify, the diagnostics after the edits (after
// the first edit that defines a name, with that script still open, and after
// the first edit of main.txt of each kind) are compared with those of a
// fresh analysis of the same texts, and any difference is printed and fails
// the run. Each edit goes to another scene script,
// opened first (untimed); it adds a block left open at the script's end, or
// takes it away again, so that every edit changes that script's
// diagnostics. Every other pair of edits also defines a new label with the
// block and takes it away with it: those edits change which names the game
// defines, and the cross-script check of the whole game runs again; their
// figures are printed apart. The server is driven in this thread, without the pause in
// which it gathers quick changes. Prints the minimum, median and maximum
// milliseconds of the edits and of the whole checks, their ratio, and the
// peak memory of the process after the edits (before the checks ran).
// --main-only times the edits of main.txt alone (the others show zeros).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "context/diagnostics.h"
#include "driver/converter.h"
#include "platform/file_system.h"
#include "server/language_server.h"
#include "server/uri.h"
#include "test_support/diagnostic_lines.h"
#include "workspace/document_store.h"
#include "workspace/game_analysis.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Figures {
  double min, median, max;
};

Figures Summary(std::vector<double> values) {
  if (values.empty()) return {0, 0, 0};
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

// False (with the first difference on stderr) when a fresh analysis of the
// same texts finds other diagnostics.
bool SameAsFresh(const kv::GameAnalysis& analysis, const kv::DocumentStore& store,
                 const std::string& dir, const char* when) {
  kv::GameAnalysis fresh(kv::RealFileSystem());
  fresh.Configure({{dir}, kv::SourceEncoding::kCp932});
  for (const auto& [path, open] : store.open()) fresh.SetDocument(path, open.text);
  fresh.Analyse();
  const std::vector<std::string> a = kv::DiagnosticLines(analysis.CurrentDiagnostics());
  const std::vector<std::string> b = kv::DiagnosticLines(fresh.CurrentDiagnostics());
  if (a == b) {
    std::fprintf(stderr, "%s: %zu diagnostics, the same as a fresh analysis's\n", when, a.size());
    return true;
  }
  size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  std::fprintf(stderr, "%s: %zu diagnostics against a fresh analysis's %zu; first difference:\n  %s\n  %s\n",
               when, a.size(), b.size(), i < a.size() ? a[i].c_str() : "(none)",
               i < b.size() ? b[i].c_str() : "(none)");
  return false;
}

struct GameFigures {
  double first = 0;
  Figures edit{}, name{}, main{}, main_state{}, main_state_back{}, main_alias{}, main_alias_back{},
      check{};
  double peak_mib = 0;
  int diagnostics = 0;
  bool ok = false;
};

// Runs the edits on one game; false when the server did not answer an edit
// as it should or, with `verify`, disagreed with a fresh analysis.
bool Measure(const std::string& dir, int edits, bool verify, bool main_only, GameFigures* out) {
  const std::string root_uri = "file://" + dir;

  kv::DocumentStore store(kv::RealFileSystem());
  kv::GameAnalysis analysis(kv::RealFileSystem());
  std::string published_uri;
  Clock::time_point published_at;
  auto sent = [&](const kv::Json& message, Clock::time_point at) {
    const kv::Json* method = kv::Member(message, "method");
    if (method && *method == "textDocument/publishDiagnostics" && published_uri.empty()) {
      published_uri = message["params"]["uri"];
      published_at = at;
    }
  };
  // Diagnostics come as text, written as kvls writes them to its output: a
  // publication is timed once its text is written (not read back).
  kv::LanguageServer server(
      analysis, store, kv::NativePathStyle(),
      [&](const kv::Json& message) { sent(message, Clock::now()); },
      [&](size_t bytes, const kv::LanguageServer::Body& body) {
        std::string text;
        text.reserve(bytes);
        body([&](std::string_view piece) { text.append(piece); });
        const Clock::time_point at = Clock::now();
        kv::Json message;
        if (kv::ParseJson(text, &message)) sent(message, at);
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
  out->first = Ms(Clock::now() - start);
  for (const kv::FileDiagnostics& file : analysis.CurrentDiagnostics())
    out->diagnostics += static_cast<int>(file.diagnostics.size());

  std::vector<double> edit_ms, name_ms, main_ms, main_state_ms, main_state_back_ms;
  std::vector<double> main_alias_ms, main_alias_back_ms;
  int scripts = 0;
  while (kv::RealFileSystem().Exists(dir + "/scenes/scene" + std::to_string(scripts) + ".txt"))
    ++scripts;
  if (scripts == 0) {
    std::fprintf(stderr, "%s holds no scenes/sceneN.txt\n", dir.c_str());
    return false;
  }
  // Replaces the end of a document's last line, as the editor tells it.
  auto edit = [&](const std::string& uri, int version, int line, size_t removed,
                  const std::string& added, bool published = true) {
    kv::Json range = {{"start", {{"line", line}, {"character", 0}}},
                      {"end", {{"line", line}, {"character", removed}}}};
    kv::Json change = {{"range", range}, {"text", added}};
    published_uri.clear();
    const Clock::time_point edited = Clock::now();
    handle(Message("textDocument/didChange", {{"textDocument", {{"uri", uri}, {"version", version}}},
                                              {"contentChanges", kv::Json::array({change})}}));
    server.AnalyseAndPublish();
    // An edit that changes no diagnostics publishes nothing: it is timed to
    // the end of its analysis.
    if (!published) return Ms(Clock::now() - edited);
    if (published_uri != uri) {
      std::fprintf(stderr, "an edit of %s published %s\n", uri.c_str(), published_uri.c_str());
      return -1.0;
    }
    return Ms(published_at - edited);
  };
  auto open = [&](const std::string& uri, int* lines) {
    std::string path, err;
    kv::UriToPath(uri, kv::NativePathStyle(), &path);
    const auto text =
        kv::ReadDocumentText(kv::RealFileSystem(), path, kv::SourceEncoding::kCp932, &err);
    if (!text) {
      std::fprintf(stderr, "%s: %s\n", path.c_str(), err.c_str());
      return false;
    }
    *lines = text->LineCount();
    handle(Message(
        "textDocument/didOpen",
        {{"textDocument",
          {{"uri", uri}, {"version", 1}, {"languageId", "kvscript"}, {"text", text->utf8()}}}}));
    server.AnalyseAndPublish();
    return true;
  };
  int lines = 0;
  for (int i = 0; i < (main_only ? 0 : edits); ++i) {
    const int scene = (i / 2 * 37) % scripts;
    const std::string uri = root_uri + "/scenes/scene" + std::to_string(scene) + ".txt";
    if (i % 2 == 0 && !open(uri, &lines)) return false;
    // Even edits leave an if open at the end; odd ones take it away.
    const bool defines_name = i / 2 % 2 == 1;
    const std::string added =
        defines_name ? "kvls_edit_" + std::to_string(i / 2) + ": if 1;" : "if 1;";
    const double ms = edit(uri, i + 2, lines - 1, i % 2 == 0 ? 0 : added.size(),
                           i % 2 == 0 ? added : "");
    if (ms < 0) return false;
    (defines_name ? name_ms : edit_ms).push_back(ms);
    if (verify && i == 2 && !SameAsFresh(analysis, store, dir, "after a name defined")) return false;
    if (i % 2 == 1) {
      handle(Message("textDocument/didClose", {{"textDocument", {{"uri", uri}}}}));
      server.AnalyseAndPublish();
    }
  }
  if (verify && !SameAsFresh(analysis, store, dir, "after the edits")) return false;
  const std::string main_uri = root_uri + "/main.txt";
  if (!open(main_uri, &lines)) return false;
  for (int i = 0; i < 18; ++i) {
    const int kind = i / 6;  // a text, a declaration, an alias
    const bool hands_on = kind != 0;
    const std::string added = kind == 2   ? "new_command kvls_say, text;"
                              : hands_on ? "value kvls_main @ 0;"
                                         : "text \"kvls\";";
    const double ms = edit(main_uri, i + 2, lines - 1, i % 2 == 0 ? 0 : added.size(),
                           i % 2 == 0 ? added : "", false);
    if (kind == 2) {
      (i % 2 == 0 ? main_alias_ms : main_alias_back_ms).push_back(ms);
    } else {
      if (i % 2 == 0) (hands_on ? main_state_ms : main_ms).push_back(ms);
      if (i % 2 == 1 && hands_on) main_state_back_ms.push_back(ms);
    }
    if (verify && i % 6 == 0 &&
        !SameAsFresh(analysis, store, dir, kind == 2   ? "after main.txt made an alias"
                                           : hands_on ? "after main.txt declared a variable"
                                                      : "after a text added to main.txt")) {
      return false;
    }
  }
  if (verify && !SameAsFresh(analysis, store, dir, "after the edits of main.txt")) return false;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  out->peak_mib = usage.ru_maxrss / 1024.0;

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
  out->edit = Summary(edit_ms);
  out->name = Summary(name_ms);
  out->main = Summary(main_ms);
  out->main_state = Summary(main_state_ms);
  out->main_state_back = Summary(main_state_back_ms);
  out->main_alias = Summary(main_alias_ms);
  out->main_alias_back = Summary(main_alias_back_ms);
  out->check = Summary(check_ms);
  out->ok = true;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> dirs;
  int edits = 100;
  bool verify = false;
  bool main_only = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--verify") == 0) {
      verify = true;
    } else if (std::strcmp(argv[i], "--main-only") == 0) {
      main_only = true;
    } else if (argv[i][0] >= '0' && argv[i][0] <= '9') {
      edits = std::max(4, std::atoi(argv[i]));  // both kinds of edit
    } else {
      dirs.push_back(kv::RealFileSystem().AbsolutePath(argv[i]));
    }
  }
  if (dirs.empty()) {
    std::fprintf(stderr, "usage: %s [--verify] [--main-only] DIRECTORY... [EDITS]\n", argv[0]);
    return 2;
  }
  // Each game in a process of its own, so that each peak is its own.
  std::vector<GameFigures> figures(dirs.size());
  bool ok = true;
  for (size_t g = 0; g < dirs.size(); ++g) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return 1;
    const pid_t child = fork();
    if (child == 0) {
      close(pipe_fds[0]);
      GameFigures f;
      Measure(dirs[g], edits, verify, main_only, &f);
      const bool written = write(pipe_fds[1], &f, sizeof f) == static_cast<ssize_t>(sizeof f);
      _exit(written && f.ok ? 0 : 1);
    }
    close(pipe_fds[1]);
    const bool read_all =
        read(pipe_fds[0], &figures[g], sizeof figures[g]) == static_cast<ssize_t>(sizeof figures[g]);
    close(pipe_fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!read_all || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || !figures[g].ok) ok = false;
  }

  std::printf("%-36s", "game");
  for (const std::string& dir : dirs) std::printf(" | %28.28s", dir.c_str());
  std::printf("\n");
  auto row = [&](const char* label, auto value) {
    std::printf("%-36s", label);
    for (const GameFigures& f : figures) std::printf(" | %28s", value(f).c_str());
    std::printf("\n");
  };
  auto fixed = [](double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", v);
    return std::string(text);
  };
  auto three = [&](const Figures& x) { return fixed(x.min) + " / " + fixed(x.median) + " / " + fixed(x.max); };
  row("diagnostics", [&](const GameFigures& f) { return std::to_string(f.diagnostics); });
  row("first analysis, ms", [&](const GameFigures& f) { return fixed(f.first); });
  row("edit -> publish, ms (min/med/max)", [&](const GameFigures& f) { return three(f.edit); });
  row("  defining names, ms", [&](const GameFigures& f) { return three(f.name); });
  row("edit of main.txt, ms", [&](const GameFigures& f) { return three(f.main); });
  row("  changing what it hands on, ms", [&](const GameFigures& f) { return three(f.main_state); });
  row("  and changing it back, ms", [&](const GameFigures& f) { return three(f.main_state_back); });
  row("  making an alias, ms", [&](const GameFigures& f) { return three(f.main_alias); });
  row("  and taking it away, ms", [&](const GameFigures& f) { return three(f.main_alias_back); });
  row("whole --check, ms", [&](const GameFigures& f) { return three(f.check); });
  row("median edit / median check", [&](const GameFigures& f) { return fixed(f.edit.median / f.check.median); });
  row("median main.txt edit / check", [&](const GameFigures& f) { return fixed(f.main.median / f.check.median); });
  row("  changing what it hands on", [&](const GameFigures& f) { return fixed(f.main_state.median / f.check.median); });
  row("  and changing it back", [&](const GameFigures& f) { return fixed(f.main_state_back.median / f.check.median); });
  row("  making an alias", [&](const GameFigures& f) { return fixed(f.main_alias.median / f.check.median); });
  row("  and taking it away", [&](const GameFigures& f) { return fixed(f.main_alias_back.median / f.check.median); });
  row("peak memory, MiB", [&](const GameFigures& f) { return fixed(f.peak_mib); });
  std::printf("(%d edits per game, half of them defining names)\n", edits);
  std::fflush(stdout);
  return ok ? 0 : 1;
}
