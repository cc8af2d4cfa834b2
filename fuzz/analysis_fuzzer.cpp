// The language server's analysis of a game, edit after edit: the input is a
// sequence of edits to a small game held in memory (lines inserted and
// deleted; labels, functions, variables and aliases defined, used and
// undefined; errors pushed to the error limit and back; pictures named that
// the game lacks), each made either in the editor or on disk.
//
// After every edit the analysis, which compiles again only what the edit
// touches, must publish exactly what a fresh analysis of the same texts
// publishes, and report exactly what `--check` reports over them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "context/diagnostics.h"
#include "driver/converter.h"
#include "platform/console.h"
#include "test_support/diagnostic_lines.h"
#include "test_support/memory_file_system.h"
#include "workspace/game_analysis.h"

namespace {

const char* const kScripts[] = {"/game/main.txt", "/game/a.txt", "/game/b.txt", "/game/c.txt"};
constexpr size_t kScriptCount = sizeof(kScripts) / sizeof(kScripts[0]);

// Lines an edit inserts; `#` stands for a small number from the input, so
// that definitions and uses of the same names meet.
const char* const kLines[] = {
    "",
    "L#:",
    "goto L#;",
    "function F#;",
    "function_end;",
    "function_call F#;",
    "value v# @ #;",
    "string s#;",
    "v#;",
    "v# += 1;",
    "v# == v# + 1;",
    "s#;",
    "new_command hop#, goto;",
    "new_command show#, text;",
    "hop# L#;",
    "show# \"x\";",
    // A block whose statements are skipped up to its closer, which an alias
    // may name.
    "void;",
    "new_command close#, void_end;",
    "close#;",
    "text \"#\";",
    "layer x, \"img/p#.png\";",
    "script_load;",  // an error
    "if v#;",
    "endif;",
    "script_change \"a.txt\";",
    "/* #",
    "*/",
    "\"open",
    "window_size 640, 480;",
    "create_window;",
    "L#:\nL#:",
    "v# = #;",
};
constexpr size_t kLineCount = sizeof(kLines) / sizeof(kLines[0]);

[[noreturn]] void Fail(const std::string& what, const std::vector<std::string>& expected,
                       const std::vector<std::string>& actual,
                       const std::map<std::string, std::string>& texts) {
  std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
  for (const auto& [path, text] : texts) {
    std::fprintf(stderr, "--- %s ---\n%s\n", path.c_str(), text.c_str());
  }
  std::fprintf(stderr, "--- expected ---\n");
  for (const std::string& line : expected) std::fprintf(stderr, "%s\n", line.c_str());
  std::fprintf(stderr, "--- actual ---\n");
  for (const std::string& line : actual) std::fprintf(stderr, "%s\n", line.c_str());
  std::abort();
}

// The findings grouped by their file, each file's in the order given. An
// editor sees one list a file; across files, --check prints a whole-game
// check's findings together while the analysis keeps them with their
// scripts.
std::vector<std::string> ByFile(std::vector<std::string> lines) {
  auto file = [](const std::string& line) {
    const size_t start = line.find(' ') + 1;
    return line.substr(start, line.find(':', start) - start);
  };
  std::stable_sort(lines.begin(), lines.end(),
                   [&](const std::string& a, const std::string& b) { return file(a) < file(b); });
  return lines;
}

std::string Line(const kv::ReportedDiagnostic& d) {
  return std::to_string(static_cast<int>(d.kind)) + " " + d.path.str() + ":" + std::to_string(d.line) +
         ":" + std::to_string(d.column) + " [" + std::string(d.check) + "] " + kv::Cp932ToUtf8(d.message);
}

class Lines : public kv::DiagnosticListener {
 public:
  void OnDiagnostic(const kv::Diagnostic& d) override {
    if (d.kind == kv::Diagnostic::Kind::kNote && !lines.empty()) {
      lines.back() += "\n" + kv::Cp932ToUtf8(d.message);
      return;
    }
    kv::ReportedDiagnostic r;
    r.kind = d.kind;
    r.path = kv::ScriptPath(std::string(d.place.path));
    r.line = d.place.line;
    r.column = d.place.column;
    r.check = d.check;
    r.message = d.message;
    lines.push_back(Line(r));
  }
  std::vector<std::string> lines;
};

std::vector<std::string> CheckLines(kv::MemoryFileSystem& fs) {
  kv::StringSink sink;
  Lines lines;
  kv::ConverterEnvironment env{fs, sink, kv::ConsoleEncoding::kCp932, [] { return 1u; }, nullptr};
  env.listener = &lines;
  kv::RunConverter({"KVConverter", "--check"}, env);
  return lines.lines;
}

std::vector<std::string> Reported(const kv::GameAnalysis& analysis) {
  std::vector<std::string> lines;
  for (const kv::ReportedDiagnostic& d : analysis.ReportedDiagnostics()) lines.push_back(Line(d));
  return lines;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  uint8_t Next() { return at_ < size_ ? data_[at_++] : 0; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 256) return 0;
  std::map<std::string, std::vector<std::string>> scripts = {
      {kScripts[0],
       {"window_size 640, 480;", "new_command hop0, goto;", "create_window;", "value v0 @ 0;",
        "L0:", "hop0 L1;", "script_change \"a.txt\";"}},
      {kScripts[1], {"L1:", "v0;", "function_call F0;", "script_change \"b.txt\";"}},
      {kScripts[2], {"function F0;", "text \"b\";", "function_end;", "goto L0;"}},
      {kScripts[3], {"hop0 L0;", "layer x, \"img/p0.png\";"}},
  };
  kv::MemoryFileSystem disk;
  auto text_of = [&](const std::string& path) { return Join(scripts[path]); };
  for (const auto& [path, lines] : scripts) disk.AddFile(path, Join(lines));
  disk.AddFile("/game/img/p1.png", "png");
  const kv::WorkspaceSettings settings{{"/game"}, kv::SourceEncoding::kCp932};
  kv::GameAnalysis analysis(disk);
  analysis.Configure(settings);
  analysis.Analyse();

  Input input(data, size);
  for (int edit = 0; edit < 16 && !input.empty(); ++edit) {
    const uint8_t op = input.Next();
    const std::string path = kScripts[(op >> 4) % kScriptCount];
    std::vector<std::string>& lines = scripts[path];
    const size_t at = input.Next() % (lines.size() + 1);
    switch (op % 4) {
      case 0:
      case 1: {  // insert a line
        std::string line = kLines[input.Next() % kLineCount];
        const char digit = static_cast<char>('0' + input.Next() % 3);
        for (char& c : line) {
          if (c == '#') c = digit;
        }
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), line);
        break;
      }
      case 2:  // delete a line
        if (at < lines.size()) lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at));
        break;
      case 3: {  // many errors at once, or none of them
        const size_t count = 10u * (input.Next() % 7);
        auto errors = std::find(lines.begin(), lines.end(), "script_load;");
        if (errors != lines.end() && count == 0) {
          lines.erase(std::remove(lines.begin(), lines.end(), "script_load;"), lines.end());
        } else {
          lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), count, "script_load;");
        }
        break;
      }
    }
    const std::string text = text_of(path);
    // Most edits come from the editor; some are made on disk, with the file
    // closed in the editor.
    if (op & 0x40) {
      disk.AddFile(path, text);
      analysis.ClearDocument(path);
    } else {
      analysis.SetDocument(path, kv::DocumentText::FromCp932(text));
    }

    analysis.Analyse();
    const std::vector<std::string> published = kv::DiagnosticLines(analysis.CurrentDiagnostics());
    kv::MemoryFileSystem saved;
    std::map<std::string, std::string> texts;
    for (const auto& [name, script_lines] : scripts) {
      texts[name] = Join(script_lines);
      saved.AddFile(name, texts[name]);
    }
    saved.AddFile("/game/img/p1.png", "png");
    kv::GameAnalysis fresh(saved);
    fresh.Configure(settings);
    fresh.Analyse();
    const std::vector<std::string> expected = kv::DiagnosticLines(fresh.CurrentDiagnostics());
    if (published != expected) Fail("published differs from a fresh analysis", expected, published, texts);
    const std::vector<std::string> check = ByFile(CheckLines(saved));
    const std::vector<std::string> reported = ByFile(Reported(analysis));
    if (check != reported) Fail("reported differs from --check", check, reported, texts);
  }
  return 0;
}
