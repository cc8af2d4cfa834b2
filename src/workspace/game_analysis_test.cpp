#include "workspace/game_analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "driver/converter.h"
#include "platform/console.h"
#include "test_support/memory_file_system.h"

namespace kv {
namespace {

// A game whose scripts lean on each other: an alias made in main.txt used in
// a scene, one made in b.txt used in c.txt (compiled after it), labels and
// functions defined in one script and used in others, and a few mistakes.
void AddGame(MemoryFileSystem& fs) {
  fs.AddFile("/game/main.txt",
             "window_size 640, 480;\n"
             "new_command hop, goto;\n"
             "create_window;\n"
             "value count @ 0;\n"
             "start:\n"
             "hop scene_a;\n"
             "function_call greet;\n");
  fs.AddFile("/game/scenes/a.txt",
             "scene_a:\n"
             "text \"\x82\xA0\";\n"
             "count = count + 1;\n"
             "goto nowhere;\n"
             "if count;\n");
  fs.AddFile("/game/scenes/b.txt",
             "function greet;\n"
             "  text \"b\";\n"
             "function_end;\n"
             "new_command show, script_load;\n"
             "start:\n"
             "start:\n");
  fs.AddFile("/game/scenes/c.txt", "hop start;\nshow;\nscript_change \"scenes/a.txt\";\n");
  fs.AddFile("/game/img/bg.png", "png");
}

// A diagnostic as one line: "KIND PATH:LINE:COL [CHECK] MESSAGE", notes
// folded into the message as the analysis folds them.
std::string Line(Diagnostic::Kind kind, std::string_view path, int32_t line, int32_t column,
                 std::string_view check, std::string_view message) {
  static const char* const kKinds[] = {"error", "warning", "internal", "note"};
  std::string text = std::string(kKinds[static_cast<int>(kind)]) + " " + std::string(path) + ":" +
                     std::to_string(line) + ":" + std::to_string(column) + " [" +
                     std::string(check) + "] " + Cp932ToUtf8(message);
  return text;
}

class Lines : public DiagnosticListener {
 public:
  void OnDiagnostic(const Diagnostic& d) override {
    if (d.kind == Diagnostic::Kind::kNote && !lines.empty()) {
      lines.back() += "\n" + Cp932ToUtf8(d.message);
      return;
    }
    lines.push_back(Line(d.kind, d.place.path, d.place.line, d.place.column, d.check, d.message));
  }
  std::vector<std::string> lines;
};

std::vector<std::string> CheckLines(MemoryFileSystem& fs) {
  StringSink sink;
  Lines lines;
  ConverterEnvironment env{fs, sink, ConsoleEncoding::kCp932, [] { return 1u; }, nullptr};
  env.listener = &lines;
  RunConverter({"KVConverter", "--check"}, env);
  return lines.lines;
}

std::vector<std::string> AnalysisLines(const GameAnalysis& analysis) {
  std::vector<std::string> lines;
  for (const ReportedDiagnostic& d : analysis.ReportedDiagnostics()) {
    lines.push_back(Line(d.kind, d.path, d.line, d.column, d.check, d.message));
  }
  return lines;
}

// Every diagnostic as the server gets it, one line each.
std::vector<std::string> Published(GameAnalysis& analysis) {
  std::vector<std::string> lines;
  analysis.Analyse();
  for (const FileDiagnostics& file : analysis.CurrentDiagnostics()) {
    for (const SourceDiagnostic& d : file.diagnostics) {
      std::string line =
          file.path + " " + std::to_string(d.range.start.line) + ":" +
          std::to_string(d.range.start.column) + "-" + std::to_string(d.range.end.line) + ":" +
          std::to_string(d.range.end.column) + " " + (d.severity == Severity::kError ? "E" : "W") +
          " [" + d.code + "] " + Cp932ToUtf8(d.message);
      for (const RelatedLocation& r : d.related) {
        line += " | " + r.location.path + " " + std::to_string(r.location.range.start.line) + ":" +
                std::to_string(r.location.range.start.column) + " " + Cp932ToUtf8(r.message);
      }
      lines.push_back(line);
    }
  }
  return lines;
}

GameAnalysis& Configured(GameAnalysis& analysis) {
  analysis.Configure({{"/game"}, SourceEncoding::kCp932});
  return analysis;
}

std::string Locations(const std::vector<SourceLocation>& locations) {
  std::string text;
  for (const SourceLocation& l : locations) {
    text += l.path + " " + std::to_string(l.range.start.line) + ":" +
            std::to_string(l.range.start.column) + "-" + std::to_string(l.range.end.column) + "; ";
  }
  return text;
}

TEST(ReportList, KeepsItsReportsInPlaceAndInOrderAcrossItsBlocks) {
  ReportList list;
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(list.begin(), list.end());
  const size_t count = 3 * ReportList::kMostPerBlock + 5;
  std::vector<const ReportedDiagnostic*> where;
  for (size_t i = 0; i < count; ++i) {
    if (i == 10) list.shrink_to_fit();  // trims the last block; the next report starts one
    ReportedDiagnostic& d = list.emplace_back();
    d.line = static_cast<int32_t>(i);
    where.push_back(&d);
  }
  // Reports added after the trim stayed where they were made.
  size_t i = 0;
  for (const ReportedDiagnostic& d : list) {
    ASSERT_EQ(d.line, static_cast<int32_t>(i));
    if (i >= 10) {
      ASSERT_EQ(&d, where[i]);
    }
    ++i;
  }
  EXPECT_EQ(i, count);
  list.shrink_to_fit();
  list.emplace_back().line = static_cast<int32_t>(count);
  ASSERT_EQ(list.size(), count + 1);
  i = 0;
  for (const ReportedDiagnostic& d : list) ASSERT_EQ(d.line, static_cast<int32_t>(i++));
  EXPECT_EQ(i, count + 1);
  ReportList moved = std::move(list);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(list.begin(), list.end());
  EXPECT_EQ(moved.size(), count + 1);
  EXPECT_EQ(moved.begin()->line, 0);
}

TEST(SharedText, CopiesShareOneBlockThatLastsAsLongAsOneOfThem) {
  SharedText copy;
  {
    const SharedText text(std::string_view("ファイル \"a.png\""));
    copy = text;
    EXPECT_TRUE(copy.SameBlock(text));
  }
  EXPECT_EQ(copy.view(), "ファイル \"a.png\"");
  EXPECT_EQ(copy, SharedText(std::string_view("ファイル \"a.png\"")));
  EXPECT_FALSE(copy == SharedText(std::string_view("ファイル")));
  EXPECT_TRUE(SharedText(std::string_view()).empty());
  EXPECT_EQ(SharedText(std::string_view()), SharedText());
}

TEST(GameAnalysis, ReportsWhatCheckReportsWithRangesAndRelatedPlaces) {
  MemoryFileSystem fs;
  AddGame(fs);
  GameAnalysis analysis(fs);
  const std::vector<std::string> published = Published(Configured(analysis));
  EXPECT_EQ(CheckLines(fs), AnalysisLines(analysis));
  EXPECT_EQ((std::vector<std::string>{
                "/game/scenes/a.txt 5:10-5:10 E [] \"if\" のブロックが閉じられていません (5 "
                "行目で開始) | /game/scenes/a.txt 5:1 ブロックの開始",
                "/game/scenes/a.txt 4:6-4:13 W [undefined-label] ラベル \"nowhere\" "
                "はどのスクリプトにも定義されていません",
                // A label that main.txt defines too.
                "/game/scenes/b.txt 5:1-5:6 W [duplicate-label] ラベル \"start\" は "
                "\"/game/main.txt\" (5 行目) でも定義されています | /game/main.txt 5:1 最初の定義",
                "/game/scenes/b.txt 6:1-6:6 W [duplicate-label] ラベル \"start\" "
                "はこのスクリプトで既に定義されています (この定義は使われません) | "
                "/game/scenes/b.txt 5:1 最初の定義",
                "/game/scenes/c.txt 2:1-2:5 E [] コマンドパラメータの指定数が間違っています\n"
                "\"script_load\" のパラメータは 0 個です (指定できる数 : 1 個)",
            }),
            published);
  EXPECT_EQ(1, analysis.full_runs());
  // The server never writes: not even the check's trial of the outputs.
  EXPECT_EQ(0, fs.open_outputs);
  EXPECT_FALSE(fs.HasFile("/game/script.kvo"));
}

TEST(GameAnalysis, AnEditCompilesItsScriptAndThoseWhoseStartItChanges) {
  MemoryFileSystem fs;
  AddGame(fs);
  GameAnalysis analysis(fs);
  Published(Configured(analysis));

  // Nothing that a later script depends on changes: one compile.
  analysis.SetDocument("/game/scenes/a.txt", DocumentText::FromCp932("scene_a:\ngoto start;\n"));
  std::vector<std::string> edited = Published(analysis);
  EXPECT_EQ(1, analysis.script_compiles());
  // Without its alias, c.txt reads differently: b.txt and c.txt compile;
  // without its function, main.txt's call of it goes nowhere.
  analysis.SetDocument("/game/scenes/b.txt", DocumentText::FromCp932("function_end;\n"));
  edited = Published(analysis);
  EXPECT_EQ(3, analysis.script_compiles());
  EXPECT_EQ(1, analysis.full_runs());

  MemoryFileSystem saved;
  AddGame(saved);
  saved.AddFile("/game/scenes/a.txt", "scene_a:\ngoto start;\n");
  saved.AddFile("/game/scenes/b.txt", "function_end;\n");
  GameAnalysis fresh(saved);
  EXPECT_EQ(Published(Configured(fresh)), edited);
  EXPECT_NE(std::string::npos, edited.at(0).find("[undefined-function]")) << edited.at(0);
  EXPECT_EQ(CheckLines(saved), AnalysisLines(analysis));

  // A label main.txt defines too, and a picture the game lacks: findings
  // that depend on other scripts and on the game's files.
  analysis.SetDocument("/game/scenes/a.txt",
                       DocumentText::FromCp932("start:\nlayer x, \"none.png\";\n"));
  edited = Published(analysis);
  saved.AddFile("/game/scenes/a.txt", "start:\nlayer x, \"none.png\";\n");
  GameAnalysis fresh_again(saved);
  EXPECT_EQ(Published(Configured(fresh_again)), edited);
  EXPECT_EQ(CheckLines(saved), AnalysisLines(analysis));
  const std::string all = testing::PrintToString(edited);
  EXPECT_NE(std::string::npos, all.find("[missing-file]")) << all;
  EXPECT_NE(std::string::npos, all.find("a.txt 1:1-1:6 W [duplicate-label]")) << all;

  // main.txt no longer makes the alias nor declares the variable that the
  // scenes read: the whole game converts again.
  analysis.SetDocument("/game/main.txt", DocumentText::FromCp932("create_window;\n"));
  Published(analysis);
  EXPECT_EQ(2, analysis.full_runs());
}

TEST(GameAnalysis, AnEditedSceneStartsFromTheVariablesDeclaredBeforeIt) {
  // Statements that begin with a variable main.txt declares are expressions,
  // whether the scene is compiled in a whole run or alone after an edit.
  for (const char* scene : {"count;\n", "heroine;\n", "affection == affection + 1;\n",
                            "affection += 1;\n", "cuont;\n"}) {
    MemoryFileSystem fs;
    fs.AddFile("/game/main.txt",
               "create_window;\nvalue count @ 0;\nstring heroine;\nvalue affection;\n"
               "script_change \"a.txt\";\n");
    fs.AddFile("/game/a.txt", scene);
    GameAnalysis analysis(fs);
    const std::vector<std::string> before = Published(Configured(analysis));
    const std::string edited = std::string("\n") + scene;
    analysis.SetDocument("/game/a.txt", DocumentText::FromCp932(edited));
    const std::vector<std::string> after = Published(analysis);
    EXPECT_EQ(1, analysis.full_runs()) << scene;
    fs.AddFile("/game/a.txt", edited);
    GameAnalysis fresh(fs);
    EXPECT_EQ(Published(Configured(fresh)), after) << scene;
    EXPECT_EQ(CheckLines(fs), AnalysisLines(analysis)) << scene;
    // Only the misspelt name is taken for a command, before and after the
    // edit.
    EXPECT_EQ(before.size(), after.size()) << scene;
    const bool misspelt = std::string(scene) == "cuont;\n";
    EXPECT_EQ(misspelt, testing::PrintToString(after).find("[unknown-command]") != std::string::npos)
        << testing::PrintToString(after);
  }
}

TEST(GameAnalysis, EditsUsingNamesOfOtherScriptsAreCheckedAsAFreshAnalysisChecksThem) {
  // Declared, misspelt (a declared name is suggested), made by a command,
  // declared later in the edited scene itself: each edit of one scene
  // against a fresh analysis of the same texts.
  MemoryFileSystem fs;
  fs.AddFile("/game/main.txt",
             "create_window;\nvalue alpha_count;\nscript_change \"a.txt\";\n");
  fs.AddFile("/game/a.txt", "alpha_count = 1;\nscript_change \"b.txt\";\n");
  fs.AddFile("/game/b.txt", "value beta_total @ 2;\nlayer bgx, \"bg.png\";\n");
  GameAnalysis analysis(fs);
  Published(Configured(analysis));
  for (const char* scene : {"beta_total = 1;\n", "beta_totl = 1;\n", "layer_show bgx, 1, 1;\n",
                            "gamma = 1;\nvalue gamma;\n", "alpha_count = beta_total;\n"}) {
    analysis.SetDocument("/game/a.txt", DocumentText::FromCp932(scene));
    const std::vector<std::string> edited = Published(analysis);
    fs.AddFile("/game/a.txt", scene);
    GameAnalysis fresh(fs);
    EXPECT_EQ(Published(Configured(fresh)), edited) << scene;
    EXPECT_EQ(CheckLines(fs), AnalysisLines(analysis)) << scene;
  }
  EXPECT_EQ(1, analysis.full_runs());
}

// An edit of main.txt in the editor, and how many scripts it compiles again
// (0: the whole game again).
struct MainTxtEdit {
  std::string text;
  int compiles;
};

// Applies `edit`, checks what it compiled, and returns what is published.
std::vector<std::string> EditMainTxt(GameAnalysis& analysis, const MainTxtEdit& edit) {
  const int compiles = analysis.script_compiles();
  const int runs = analysis.full_runs();
  analysis.SetDocument("/game/main.txt", DocumentText::FromCp932(edit.text));
  const std::vector<std::string> edited = Published(analysis);
  EXPECT_EQ(runs + (edit.compiles != 0 ? 0 : 1), analysis.full_runs()) << edit.text;
  if (edit.compiles != 0) {
    EXPECT_EQ(compiles + edit.compiles, analysis.script_compiles()) << edit.text;
  }
  return edited;
}

// With main.txt saved as `text`: a fresh analysis publishes `edited`, and
// --check says what the edited analysis says.
void ExpectAsFresh(MemoryFileSystem& fs, GameAnalysis& analysis, const std::string& text,
                   const std::vector<std::string>& edited) {
  fs.AddFile("/game/main.txt", text);
  GameAnalysis fresh(fs);
  EXPECT_EQ(Published(Configured(fresh)), edited) << text;
  EXPECT_EQ(CheckLines(fs), AnalysisLines(analysis)) << text;
}

TEST(GameAnalysis, AnEditOfMainTxtIsCheckedAsAFreshAnalysisChecksIt) {
  // Edits that change nothing main.txt hands on to the scripts after it (a
  // line moved, the picture folder) compile it alone; so does one that
  // declares a variable more or less, or makes an alias, which only the
  // scenes that ask about it compile again for; a setup phase that no
  // longer ends in main.txt changes how the scenes compile. Each against a
  // fresh analysis and --check.
  const std::string body = "create_window;\nvalue count @ 0;\nscript_change \"a.txt\";\n";
  const std::string pics = "image_path \"pics/\";\n";
  MemoryFileSystem fs;
  fs.AddFile("/game/main.txt", "image_path \"img/\";\n" + body);
  fs.AddFile("/game/a.txt",
             "count = count + 1;\nheroine;\nlayer x, \"none.png\";\nscript_change \"b.txt\";\n");
  fs.AddFile("/game/b.txt", "value heroine;\ntext \"b\";\n");
  fs.AddFile("/game/pics/p.png", "png");
  GameAnalysis analysis(fs);
  Published(Configured(analysis));
  const MainTxtEdit edits[] = {
      {"\nimage_path \"img/\";\n" + body, 1},
      {pics + body, 1},
      {pics + body + "value unused;\n", 1},
      // a.txt takes heroine for an expression now; b.txt declares it again.
      {pics + body + "value unused;\nstring heroine;\n", 3},
      {pics + body + "string heroine;\n", 1},
      {pics + body, 3},
      {pics + body + "new_command hop, goto;\n", 2},
      {pics + "value count @ 0;\n", 0},
      {pics + body, 0},
  };
  for (const MainTxtEdit& edit : edits) {
    const std::vector<std::string> edited = EditMainTxt(analysis, edit);
    // Pictures are offered from the folder main.txt now sets.
    std::string offered;
    for (const CompletionItem& item : analysis.CompleteAt("/game/a.txt", {3, 11}).items)
      offered += item.label + ";";
    EXPECT_EQ(edit.text.find("pics/") != std::string::npos ? "p.png;" : "", offered) << edit.text;
    ExpectAsFresh(fs, analysis, edit.text, edited);
  }
}

TEST(GameAnalysis, AnAliasMadeInMainTxtCompilesAgainOnlyTheScenesThatReadIt) {
  // a.txt and d.txt look "say" up (and read every alias for a near name
  // while it is none); b.txt never does; c.txt makes an alias, which hangs
  // on every alias made before it (the same name is refused). Each edit
  // compiles main.txt, a.txt, c.txt and d.txt, and b.txt only for "close".
  MemoryFileSystem fs;
  const std::string head = "create_window;\nscript_change \"a.txt\";\n";
  fs.AddFile("/game/main.txt", head);
  fs.AddFile("/game/a.txt", "say \"hi\";\nscript_change \"b.txt\";\n");
  fs.AddFile("/game/b.txt",
             "void;\nclose;\ntext \"b\";\nvoid_end;\nscript_change \"c.txt\";\n");
  fs.AddFile("/game/c.txt", "new_command say, goto;\nscript_change \"d.txt\";\n");
  fs.AddFile("/game/d.txt", "*top\nsay top;\ntalk;\n");
  GameAnalysis analysis(fs);
  Published(Configured(analysis));
  const MainTxtEdit edits[] = {
      {head + "new_command say, text;\n", 4},
      {head + "new_command talk, text;\n", 4},
      {head + "new_command talk, text;\nnew_command hop, goto;\n", 4},
      {head, 4},
      // b.txt looks "close" up in its void block, which it now ends.
      {head + "new_command close, void_end;\n", 5},
      {head, 5},
      // A declaration beside it: the whole game again.
      {head + "new_command talk, text;\nvalue v;\n", 0},
  };
  for (const MainTxtEdit& edit : edits) {
    const std::vector<std::string> edited = EditMainTxt(analysis, edit);
    ExpectAsFresh(fs, analysis, edit.text, edited);
  }
}

TEST(GameAnalysis, AFileKeepsItsDiagnosticsVersionUntilItsDiagnosticsChange) {
  MemoryFileSystem fs;
  AddGame(fs);
  GameAnalysis analysis(fs);
  Configured(analysis);
  auto versions = [&] {
    std::map<std::string, uint64_t> by_path;
    analysis.Analyse();
    for (const FileDiagnostics& file : analysis.CurrentDiagnostics()) {
      by_path[file.path] = file.version;
      EXPECT_NE(0u, file.version) << file.path;
    }
    return by_path;
  };
  const std::map<std::string, uint64_t> first = versions();
  // a.txt's open block moves down a line; b.txt's findings stay as they were.
  analysis.SetDocument("/game/scenes/a.txt",
                       DocumentText::FromCp932("\n" + fs.FileContents("/game/scenes/a.txt")));
  const std::map<std::string, uint64_t> second = versions();
  EXPECT_NE(first.at("/game/scenes/a.txt"), second.at("/game/scenes/a.txt"));
  EXPECT_EQ(first.at("/game/scenes/b.txt"), second.at("/game/scenes/b.txt"));
  EXPECT_EQ(first.at("/game/scenes/c.txt"), second.at("/game/scenes/c.txt"));
  EXPECT_EQ(second, versions());
}

// The texts of a CP932 game's scripts are read again once compiled, not
// copied as the compile reads them: one that changed in between is compiled
// again, and what is shown stands on the text compiled.
TEST(GameAnalysis, AScriptThatChangesWhileItIsCompiledIsCompiledAgain) {
  MemoryFileSystem fs;
  AddGame(fs);
  const std::string changed = "\n" + fs.FileContents("/game/scenes/a.txt");
  // a.txt is read by the search, by its compile, then again to be kept.
  int reads = 0;
  fs.before_read = [&](const std::string& path) {
    if (path == "/game/scenes/a.txt" && ++reads == 3) fs.AddFile(path, changed);
  };
  GameAnalysis analysis(fs);
  const std::vector<std::string> published = Published(Configured(analysis));
  EXPECT_GT(reads, 3);
  fs.before_read = nullptr;
  GameAnalysis fresh(fs);
  EXPECT_EQ(Published(Configured(fresh)), published);
  EXPECT_EQ(changed, analysis.AnalysedText("/game/scenes/a.txt")->cp932());
}

TEST(GameAnalysis, GivesAgainTheListsItReturnedWithoutKeepingACopy) {
  MemoryFileSystem fs;
  AddGame(fs);
  GameAnalysis analysis(fs);
  Configured(analysis);
  ASSERT_TRUE(analysis.KeepsDiagnostics());
  auto same_as_returned = [&](const std::vector<FileDiagnostics>& returned) {
    for (const FileDiagnostics& file : returned) {
      const FileDiagnostics again = analysis.DiagnosticsOf(file.path);
      EXPECT_EQ(file.version, again.version) << file.path;
      ASSERT_EQ(file.diagnostics.size(), again.diagnostics.size()) << file.path;
      for (size_t i = 0; i < file.diagnostics.size(); ++i) {
        const SourceDiagnostic& a = file.diagnostics[i];
        const SourceDiagnostic& b = again.diagnostics[i];
        EXPECT_EQ(a.range, b.range);
        EXPECT_EQ(a.message, b.message);
        EXPECT_EQ(a.code, b.code);
        ASSERT_EQ(a.related.size(), b.related.size());
        for (size_t r = 0; r < a.related.size(); ++r) {
          EXPECT_EQ(a.related[r].location.path, b.related[r].location.path);
          EXPECT_EQ(a.related[r].location.range, b.related[r].location.range);
          EXPECT_EQ(a.related[r].message, b.related[r].message);
        }
      }
    }
  };
  const std::vector<FileDiagnostics> first = analysis.Analyse();
  EXPECT_EQ(3u, first.size());
  same_as_returned(first);
  // a.txt's findings move down a line; it is returned again, the others not.
  analysis.SetDocument("/game/scenes/a.txt",
                       DocumentText::FromCp932("\n" + fs.FileContents("/game/scenes/a.txt")));
  const std::vector<FileDiagnostics> second = analysis.Analyse();
  ASSERT_EQ(1u, second.size());
  EXPECT_EQ(6, second[0].diagnostics[0].range.start.line);
  same_as_returned(second);
  same_as_returned({first[1], first[2]});
  EXPECT_TRUE(analysis.DiagnosticsOf("/game/main.txt").diagnostics.empty());
  // Asked for no lists, it returns the files whose lists changed without
  // them, and gives their lists as they are visited.
  analysis.ReturnNoLists();
  analysis.SetDocument("/game/scenes/a.txt",
                       DocumentText::FromCp932(fs.FileContents("/game/scenes/a.txt")));
  const std::vector<FileDiagnostics> third = analysis.Analyse();
  ASSERT_EQ(1u, third.size());
  EXPECT_EQ("/game/scenes/a.txt", third[0].path);
  EXPECT_TRUE(third[0].diagnostics.empty());
  EXPECT_EQ(analysis.DiagnosticsOf(third[0].path).version, third[0].version);
  std::vector<int32_t> lines;
  analysis.VisitDiagnostics(third[0].path,
                            [&](const SourceDiagnostic& d) { lines.push_back(d.range.start.line); });
  ASSERT_EQ(second[0].diagnostics.size(), lines.size());
  EXPECT_EQ(5, lines[0]);
}

TEST(GameAnalysis, SameResultsFromEveryRunInOneProcess) {
  MemoryFileSystem fs;
  AddGame(fs);
  const std::vector<std::string> first = CheckLines(fs);
  GameAnalysis analysis(fs);
  const std::vector<std::string> published = Published(Configured(analysis));
  // The names of every script, the last one read too, stay with it.
  auto names = [&] {
    return Locations(analysis.Definition("/game/main.txt", {6, 8})) +
           Locations(analysis.References("/game/scenes/c.txt", {1, 6}, true));
  };
  const std::string first_names = names();
  EXPECT_EQ("/game/scenes/a.txt 1:1-8; /game/main.txt 5:1-6; /game/scenes/b.txt 5:1-6; "
            "/game/scenes/b.txt 6:1-6; /game/scenes/c.txt 1:5-10; ",
            first_names);
  for (int run = 0; run < 100; ++run) {
    ASSERT_EQ(first, CheckLines(fs)) << run;
    analysis.FilesChanged({{"/game/img/bg.png", FileChangeKind::kChanged}});
    ASSERT_EQ(published, Published(analysis)) << run;
    ASSERT_EQ(first_names, names()) << run;
  }
  EXPECT_EQ(101, analysis.full_runs());
}

TEST(GameAnalysis, NavigatesLabelsFunctionsVariablesAndAliasesAcrossScripts) {
  MemoryFileSystem fs;
  AddGame(fs);
  GameAnalysis analysis(fs);
  Published(Configured(analysis));
  // From a use through an alias to the definition in another script.
  EXPECT_EQ("/game/scenes/a.txt 1:1-8; ", Locations(analysis.Definition("/game/main.txt", {6, 8})));
  EXPECT_EQ("/game/scenes/b.txt 1:10-15; ",
            Locations(analysis.Definition("/game/main.txt", {7, 20})));
  EXPECT_EQ("/game/main.txt 4:7-12; ",
            Locations(analysis.Definition("/game/scenes/a.txt", {3, 10})));
  EXPECT_EQ("/game/scenes/a.txt 1:1-1; ",
            Locations(analysis.Definition("/game/scenes/c.txt", {3, 20})));
  EXPECT_EQ(
      "/game/main.txt 5:1-6; /game/scenes/b.txt 5:1-6; /game/scenes/b.txt 6:1-6; "
      "/game/scenes/c.txt 1:5-10; ",
      Locations(analysis.References("/game/scenes/c.txt", {1, 7}, true)));
  EXPECT_EQ("/game/main.txt 6:5-12; ",
            Locations(analysis.References("/game/scenes/a.txt", {1, 3}, false)));

  std::vector<FileEdits> edits;
  std::string refusal;
  ASSERT_TRUE(analysis.Rename("/game/scenes/a.txt", {1, 1}, "opening", &edits, &refusal));
  ASSERT_EQ(2u, edits.size());
  EXPECT_EQ("/game/main.txt", edits[0].path);
  EXPECT_EQ((SourceRange{{6, 5}, {6, 12}}), edits[0].edits.at(0).range);
  EXPECT_EQ("/game/scenes/a.txt", edits[1].path);
  EXPECT_EQ((SourceRange{{1, 1}, {1, 8}}), edits[1].edits.at(0).range);
  EXPECT_FALSE(analysis.Rename("/game/scenes/a.txt", {1, 1}, "1st", &edits, &refusal));
  EXPECT_EQ("\"1st\" はラベルや関数の名前になりません", Cp932ToUtf8(refusal));
  EXPECT_FALSE(analysis.Rename("/game/scenes/a.txt", {2, 1}, "x", &edits, &refusal));

  EXPECT_EQ(
      "`hop`: `goto` の別名 (`main.txt` 2 行目)\n\n**goto** パラメータ 1 個  \ncreate_window "
      "の前にも使えます",
      Cp932ToUtf8(analysis.HoverAt("/game/main.txt", {6, 2})->markdown));
  EXPECT_EQ("hop: goto の別名 (main.txt 2 行目)\n\ngoto パラメータ 1 個\ncreate_window の前にも使えます",
            Cp932ToUtf8(analysis.HoverAt("/game/main.txt", {6, 2})->plain));
  EXPECT_EQ(analysis.HoverAt("/game/main.txt", {6, 2})->markdown,
            analysis.HoverAt("/game/main.txt", {2, 14})->markdown);
  const std::optional<Hover> command = analysis.HoverAt("/game/main.txt", {3, 14});
  ASSERT_TRUE(command.has_value());
  EXPECT_EQ("**create_window** パラメータなし  \ncreate_window の前にも使えます",
            Cp932ToUtf8(command->markdown));
  EXPECT_EQ((SourceRange{{3, 1}, {3, 14}}), command->range);
  EXPECT_EQ("`value count` 宣言: `main.txt` 4 行目  \n",
            Cp932ToUtf8(analysis.HoverAt("/game/scenes/a.txt", {3, 1})->markdown));
  EXPECT_EQ("関数 `greet`\n\n定義: `scenes/b.txt` 1 行目  \n",
            Cp932ToUtf8(analysis.HoverAt("/game/main.txt", {7, 16})->markdown));

  const std::vector<Symbol> symbols = analysis.DocumentSymbols("/game/scenes/b.txt");
  ASSERT_EQ(3u, symbols.size());
  EXPECT_EQ("greet", symbols[0].name);
  EXPECT_EQ(SymbolKind::kFunction, symbols[0].kind);
  EXPECT_EQ("start", symbols[1].name);
  EXPECT_EQ(3u, analysis.WorkspaceSymbols("STA").size());
}

// A script not open in the editor keeps only its definitions: the queries
// that need its other names compile it again alone, which changes no report
// and counts no compile, and answer as for an open one.
TEST(GameAnalysis, ClosedScriptsAnswerAsOpenOnesWithoutChangingTheAnalysis) {
  MemoryFileSystem fs;
  AddGame(fs);
  GameAnalysis closed(fs), open(fs);
  const std::vector<std::string> published = Published(Configured(closed));
  Configured(open);
  for (const char* path : {"/game/scenes/a.txt", "/game/scenes/b.txt", "/game/scenes/c.txt"})
    open.SetDocument(path, DocumentText::FromCp932(fs.Files().at(path)));
  open.Analyse();
  const int compiles = closed.script_compiles();
  auto answers = [](GameAnalysis& analysis) {
    std::string text = Locations(analysis.References("/game/scenes/b.txt", {5, 2}, true)) + "\n" +
                       Locations(analysis.References("/game/main.txt", {2, 14}, true)) + "\n" +
                       Locations(analysis.References("/game/main.txt", {4, 8}, false)) + "\n" +
                       Locations(analysis.Definition("/game/scenes/c.txt", {2, 2})) + "\n" +
                       Locations(analysis.Definition("/game/scenes/a.txt", {3, 10})) + "\n";
    std::vector<FileEdits> edits;
    std::string refusal;
    if (analysis.Rename("/game/scenes/b.txt", {1, 11}, "hello", &edits, &refusal)) {
      for (const FileEdits& file : edits) text += Locations({{file.path, file.edits.at(0).range}});
    }
    return text + "\n" + Cp932ToUtf8(analysis.HoverAt("/game/scenes/c.txt", {1, 2})->markdown);
  };
  const std::string expected = answers(open);
  EXPECT_EQ(
      "/game/main.txt 5:1-6; /game/scenes/b.txt 5:1-6; /game/scenes/b.txt 6:1-6; "
      "/game/scenes/c.txt 1:5-10; \n"
      "/game/main.txt 2:13-16; /game/main.txt 6:1-4; /game/scenes/c.txt 1:1-4; \n"
      "/game/scenes/a.txt 3:1-6; /game/scenes/a.txt 3:9-14; /game/scenes/a.txt 5:4-9; \n"
      "/game/scenes/b.txt 4:13-17; \n/game/main.txt 4:7-12; \n"
      "/game/main.txt 7:15-20; /game/scenes/b.txt 1:10-15; \n"
      "`hop`: `goto` の別名 (`main.txt` 2 行目)\n\n**goto** パラメータ 1 個  \ncreate_window "
      "の前にも使えます",
      expected);
  EXPECT_EQ(expected, answers(closed));
  EXPECT_EQ(compiles, closed.script_compiles());
  EXPECT_EQ(published, Published(closed));
}

// A game saved as UTF-8: the converter counts the file's bytes, the editor's
// side CP932 bytes ("あいう" is nine bytes in the file, six in CP932).
TEST(GameAnalysis, PlacesInAUtf8GameAreCountedInCp932Bytes) {
  MemoryFileSystem fs;
  fs.AddFile("/game/main.txt", "create_window;\n");
  fs.AddFile("/game/a.txt", "text \"あいう\"; goto nowhere; goto here;\nhere:\n");
  GameAnalysis analysis(fs);
  analysis.Configure({{"/game"}, SourceEncoding::kUtf8});
  EXPECT_EQ((std::vector<std::string>{"/game/a.txt 1:21-1:28 W [undefined-label] ラベル "
                                      "\"nowhere\" はどのスクリプトにも定義されていません"}),
            Published(analysis));
  EXPECT_EQ("/game/a.txt 1:35-39; ", Locations(analysis.References("/game/a.txt", {2, 1}, false)));
}

std::vector<std::string> Labels(const Completion& completion) {
  std::vector<std::string> labels;
  for (const CompletionItem& item : completion.items) labels.push_back(item.label);
  return labels;
}

bool Offers(const Completion& completion, const std::string& label) {
  const std::vector<std::string> labels = Labels(completion);
  return std::find(labels.begin(), labels.end(), label) != labels.end();
}

TEST(GameAnalysis, CompletesByWhatThePositionTakes) {
  MemoryFileSystem fs;
  AddGame(fs);
  GameAnalysis analysis(fs);
  Published(Configured(analysis));
  analysis.SetDocument(
      "/game/scenes/c.txt",
      DocumentText::FromCp932("layer_s\ngoto st\nfunction_call g\nlayer bg, \"im\nx = c\n"));
  analysis.Analyse();
  const Completion commands = analysis.CompleteAt("/game/scenes/c.txt", {1, 8});
  EXPECT_TRUE(Offers(commands, "layer_show"));
  EXPECT_TRUE(Offers(commands, "hop"));
  EXPECT_EQ((SourceRange{{1, 1}, {1, 8}}), commands.replace);
  // Before create_window only the setup phase's commands.
  const Completion setup = analysis.CompleteAt("/game/main.txt", {1, 1});
  EXPECT_TRUE(Offers(setup, "window_size"));
  EXPECT_FALSE(Offers(setup, "layer_show"));
  EXPECT_EQ((std::vector<std::string>{"start", "scene_a"}),
            Labels(analysis.CompleteAt("/game/scenes/c.txt", {2, 8})));
  EXPECT_EQ((std::vector<std::string>{"greet"}),
            Labels(analysis.CompleteAt("/game/scenes/c.txt", {3, 16})));
  EXPECT_TRUE(Offers(analysis.CompleteAt("/game/scenes/c.txt", {4, 14}), "img/bg.png"));
  EXPECT_EQ((std::vector<std::string>{"count"}),
            Labels(analysis.CompleteAt("/game/scenes/c.txt", {5, 6})));
}

// The names come from the compile: their ranges are the tokenizer's
// elements, and a rename keeps every name one word of its own kind.
TEST(GameAnalysis, NamesAreTheWordsTheTokenizerReads) {
  MemoryFileSystem fs;
  fs.AddFile("/game/main.txt",
             "create_window;\n"
             "value score @ 0;\n"
             "goto no~where/* a comment */;\n"
             "start:\n"
             "ending:\n"
             "function hello;\nfunction_end;\n"
             "function bye;\nfunction_end;\n"
             "score = score + 1;\n"
             "script_load \"../../../etc/passwd\";\n"
             "script_load \"scenes/../a.txt\";\n");
  fs.AddFile("/game/a.txt", "score = 2;\n");
  fs.AddFile("/etc/passwd", "root\n");
  GameAnalysis analysis(fs);
  const std::vector<std::string> published = Published(Configured(analysis));
  EXPECT_NE(std::find(published.begin(), published.end(),
                      "/game/main.txt 3:6-3:14 W [undefined-label] ラベル \"no~where\" "
                      "はどのスクリプトにも定義されていません"),
            published.end());
  EXPECT_EQ("/game/main.txt 3:6-14; ", Locations(analysis.References("/game/main.txt", {3, 8}, true)));

  // A variable: its declaration and every use, in every script.
  EXPECT_EQ("/game/main.txt 2:7-12; /game/main.txt 10:1-6; /game/main.txt 10:9-14; /game/a.txt 1:1-6; ",
            Locations(analysis.References("/game/a.txt", {1, 3}, true)));
  EXPECT_EQ("/game/main.txt 2:7-12; ", Locations(analysis.Definition("/game/main.txt", {10, 10})));

  // A script outside the game is never opened: only the game's scripts are
  // answered.
  std::vector<std::string> read;
  fs.before_read = [&](const std::string& path) { read.push_back(path); };
  EXPECT_EQ("", Locations(analysis.Definition("/game/main.txt", {11, 20})));
  EXPECT_EQ("/game/a.txt 1:1-1; ", Locations(analysis.Definition("/game/main.txt", {12, 20})));
  EXPECT_TRUE(read.empty()) << read[0];

  std::vector<FileEdits> edits;
  std::string refusal;
  // The second byte of "ー" would end the word.
  EXPECT_FALSE(analysis.Rename("/game/main.txt", {4, 1}, Utf8ToCp932("ゲームオーバー"), &edits, &refusal));
  EXPECT_EQ("\"ゲームオーバー\" はラベルや関数の名前になりません", Cp932ToUtf8(refusal));
  EXPECT_FALSE(analysis.Rename("/game/main.txt", {4, 1}, "ending", &edits, &refusal));
  EXPECT_EQ("\"ending\" はすでに main.txt 5 行目に定義されています", Cp932ToUtf8(refusal));
  EXPECT_FALSE(analysis.Rename("/game/main.txt", {8, 10}, "hello", &edits, &refusal));
  EXPECT_EQ("\"hello\" はすでに main.txt 6 行目に定義されています", Cp932ToUtf8(refusal));
  EXPECT_TRUE(analysis.Rename("/game/main.txt", {4, 1}, Utf8ToCp932("終幕"), &edits, &refusal));
  EXPECT_TRUE(analysis.Rename("/game/main.txt", {8, 10}, "bye", &edits, &refusal));

  // An edit's compile replaces its script's names.
  analysis.SetDocument("/game/a.txt", DocumentText::FromCp932("\nstring score2;\nscore = 3;\n"));
  analysis.Analyse();
  EXPECT_EQ("/game/main.txt 10:1-6; /game/main.txt 10:9-14; /game/a.txt 3:1-6; ",
            Locations(analysis.References("/game/main.txt", {2, 8}, false)));
  EXPECT_EQ("/game/a.txt 2:8-14; ", Locations(analysis.Definition("/game/a.txt", {2, 9})));
}

TEST(GameAnalysis, CompletesTheFilesOfTheCommandsKindFromTheFolderTheGameSets) {
  MemoryFileSystem fs;
  fs.AddFile("/game/main.txt", "image_path \"img/\";\ncreate_window;\n");
  fs.AddFile("/game/scenes/c.txt", "");
  fs.AddFile("/game/se/click.wav", "w");
  fs.AddFile("/game/mv/op.avi", "m");
  for (int i = 0; i < 150; ++i) fs.AddFile("/game/img/p" + std::to_string(1000 + i) + ".png", "p");
  fs.AddFile("/game/img/bg.png", "p");
  GameAnalysis analysis(fs);
  Published(Configured(analysis));
  analysis.SetDocument("/game/scenes/c.txt",
                       DocumentText::FromCp932("layer bg, \"b\";\nsound_play \"\nscript_change \"s\n"
                                               "text \"\nlayer x, \"p\"\n"
                                               "text_font_face \"\nlayer \"\nlayer_show \"\n"));
  analysis.Analyse();
  const Completion image = analysis.CompleteAt("/game/scenes/c.txt", {1, 13});
  EXPECT_EQ((std::vector<std::string>{"bg.png"}), Labels(image));
  EXPECT_EQ((SourceRange{{1, 12}, {1, 13}}), image.replace);
  EXPECT_FALSE(image.incomplete);
  EXPECT_EQ((std::vector<std::string>{"se/click.wav"}),
            Labels(analysis.CompleteAt("/game/scenes/c.txt", {2, 13})));
  EXPECT_EQ((std::vector<std::string>{"scenes/c.txt"}),
            Labels(analysis.CompleteAt("/game/scenes/c.txt", {3, 17})));
  // Only a parameter that takes a file offers files: not the text, a font's
  // name, or a layer's.
  for (const SourcePosition at : {SourcePosition{4, 7}, {6, 17}, {7, 8}, {8, 13}})
    EXPECT_TRUE(analysis.CompleteAt("/game/scenes/c.txt", at).items.empty()) << at.line;
  // A bounded list, marked as cut.
  const Completion many = analysis.CompleteAt("/game/scenes/c.txt", {5, 12});
  EXPECT_EQ(100u, many.items.size());
  EXPECT_TRUE(many.incomplete);
  EXPECT_EQ("p1000.png", many.items[0].label);
}

TEST(GameAnalysis, PlacesInClosedScriptsStandOnTheTextsTheirCompilesRead) {
  MemoryFileSystem fs;
  AddGame(fs);
  GameAnalysis analysis(fs);
  WorkspaceSettings settings{{"/game"}, SourceEncoding::kCp932};
  settings.client_watches_files = true;
  analysis.Configure(settings);
  analysis.Analyse();
  // a.txt changes on disk and nobody says so; b.txt defines the label that
  // a.txt goes to, then no longer: the warning comes back in a.txt, shown
  // on the text its compile read, which is not read again.
  const std::string compiled = fs.Files().at("/game/scenes/a.txt");
  fs.AddFile("/game/scenes/a.txt", "\n");
  int reads = 0;
  fs.before_read = [&](const std::string& path) { reads += path == "/game/scenes/a.txt"; };
  const std::string b = fs.Files().at("/game/scenes/b.txt");
  analysis.SetDocument("/game/scenes/b.txt", DocumentText::FromCp932(b + "nowhere:\n"));
  analysis.Analyse();
  analysis.SetDocument("/game/scenes/b.txt", DocumentText::FromCp932(b));
  const std::vector<std::string> published = Published(analysis);
  EXPECT_NE(std::find(published.begin(), published.end(),
                      "/game/scenes/a.txt 4:6-4:13 W [undefined-label] ラベル \"nowhere\" "
                      "はどのスクリプトにも定義されていません"),
            published.end());
  ASSERT_NE(nullptr, analysis.AnalysedText("/game/scenes/a.txt"));
  EXPECT_EQ(compiled, analysis.AnalysedText("/game/scenes/a.txt")->cp932());
  EXPECT_EQ(0, reads);
}

// The bytes a compile read are not kept: they are read again for the
// places, and a script that no longer holds them is shown against no text
// and compiled again by the next analysis.
TEST(GameAnalysis, AScriptChangedOnDiskSinceItsCompileIsShownAgainstNoOtherText) {
  MemoryFileSystem fs;
  AddGame(fs);
  // More scripts than the few small ones held at hand after they are read.
  for (size_t i = 0; i <= OverlayFileSystem::kHeldFiles; ++i)
    fs.AddFile("/game/scenes/z" + std::to_string(i) + ".txt", "goto away;\n");
  GameAnalysis analysis(fs);
  WorkspaceSettings settings{{"/game"}, SourceEncoding::kCp932};
  settings.client_watches_files = true;
  analysis.Configure(settings);
  analysis.Analyse();
  // a.txt changes on disk and nobody says so; b.txt's edit makes a.txt's
  // warning come back, and a.txt is read again to place it.
  fs.AddFile("/game/scenes/a.txt", "\n\n\n\n\n\n" + fs.Files().at("/game/scenes/a.txt"));
  const std::string b = fs.Files().at("/game/scenes/b.txt");
  analysis.SetDocument("/game/scenes/b.txt", DocumentText::FromCp932(b + "nowhere:\n"));
  analysis.Analyse();
  analysis.SetDocument("/game/scenes/b.txt", DocumentText::FromCp932(b));
  EXPECT_FALSE(analysis.NeedsAnalysis());
  const std::vector<std::string> published = Published(analysis);
  EXPECT_NE(std::find(published.begin(), published.end(),
                      "/game/scenes/a.txt 4:6-4:6 W [undefined-label] ラベル \"nowhere\" "
                      "はどのスクリプトにも定義されていません"),
            published.end());
  EXPECT_TRUE(analysis.NeedsAnalysis());
  EXPECT_EQ(nullptr, analysis.AnalysedText("/game/scenes/a.txt"));
  EXPECT_FALSE(analysis.HoverAt("/game/scenes/a.txt", {10, 2}).has_value());
  // The next analysis compiles it again, and shows it against what it read.
  const std::vector<std::string> again = Published(analysis);
  EXPECT_FALSE(analysis.NeedsAnalysis());
  EXPECT_NE(std::find(again.begin(), again.end(),
                      "/game/scenes/a.txt 10:6-10:13 W [undefined-label] ラベル \"nowhere\" "
                      "はどのスクリプトにも定義されていません"),
            again.end());
  ASSERT_NE(nullptr, analysis.AnalysedText("/game/scenes/a.txt"));
  EXPECT_EQ(fs.Files().at("/game/scenes/a.txt"), analysis.AnalysedText("/game/scenes/a.txt")->cp932());
}

// A script larger than those held at hand is read again a few bytes at a
// time for the lines its reports stand on: they are placed as on its whole
// text, and once it has changed on disk at their bare places.
TEST(GameAnalysis, ALargeScriptIsReadAgainAPieceAtATimeToPlaceItsReports) {
  const std::string big = "scene_big:\ngoto nowhere;\r\n// " +
                          std::string(OverlayFileSystem::kHeldBytes, 'x') +
                          "\n\tgoto nowhere; layer x, \"none.png\";\nif 1; goto nowhere;";
  auto big_lines = [](GameAnalysis& analysis) {
    std::vector<std::string> lines;
    for (const std::string& line : Published(analysis))
      if (line.starts_with("/game/scenes/big.txt")) lines.push_back(line);
    return lines;
  };
  auto analysed = [&](MemoryFileSystem& fs, GameAnalysis& analysis, bool open) {
    AddGame(fs);
    fs.AddFile("/game/scenes/big.txt", big);
    WorkspaceSettings settings{{"/game"}, SourceEncoding::kCp932};
    settings.client_watches_files = true;
    analysis.Configure(settings);
    analysis.set_read_piece(7);
    if (open) analysis.SetDocument("/game/scenes/big.txt", DocumentText::FromCp932(big));
    return big_lines(analysis);
  };
  MemoryFileSystem fs, open_fs;
  GameAnalysis analysis(fs), open(open_fs);
  const std::vector<std::string> published = analysed(fs, analysis, false);
  // As an open document's text places them.
  EXPECT_EQ(analysed(open_fs, open, true), published);
  const std::string nowhere =
      " W [undefined-label] ラベル \"nowhere\" はどのスクリプトにも定義されていません";
  const std::string none = "W [missing-file] ファイル \"none.png\" はゲームのどのフォルダにもありません";
  EXPECT_EQ((std::vector<std::string>{
                "/game/scenes/big.txt 5:20-5:20 E [] \"if\" のブロックが閉じられていません (5 行目で開始) "
                "| /game/scenes/big.txt 5:1 ブロックの開始",
                "/game/scenes/big.txt 2:6-2:13" + nowhere, "/game/scenes/big.txt 4:7-4:14" + nowhere,
                "/game/scenes/big.txt 4:25-4:35 " + none, "/game/scenes/big.txt 5:12-5:19" + nowhere}),
            published);

  // big.txt changes on disk and nobody says so; b.txt's edit takes its
  // warnings away and checks its files again: it is read to place them.
  std::string changed = big;
  changed[100] = 'y';
  fs.AddFile("/game/scenes/big.txt", changed);
  const std::string b = fs.Files().at("/game/scenes/b.txt");
  analysis.SetDocument("/game/scenes/b.txt", DocumentText::FromCp932(b + "nowhere:\n"));
  EXPECT_EQ((std::vector<std::string>{published[0], "/game/scenes/big.txt 4:25-4:25 " + none}),
            big_lines(analysis));
  EXPECT_TRUE(analysis.NeedsAnalysis());
  // The next analysis compiles it again, and places them on what it read.
  analysis.SetDocument("/game/scenes/b.txt", DocumentText::FromCp932(b));
  EXPECT_EQ(published, big_lines(analysis));
  EXPECT_FALSE(analysis.NeedsAnalysis());
}

TEST(GameAnalysis, NoticesChangesOnDiskUnlessTheEditorWatchesThem) {
  for (const bool watched : {false, true}) {
    MemoryFileSystem fs;
    AddGame(fs);
    fs.AddFile("/game/scenes/d.txt", "layer x, \"img/new.png\";\n");
    GameAnalysis analysis(fs);
    WorkspaceSettings settings{{"/game"}, SourceEncoding::kCp932};
    settings.client_watches_files = watched;
    analysis.Configure(settings);
    auto shown = [&](const std::string& text) {
      return testing::PrintToString(Published(analysis)).find(text) != std::string::npos;
    };
    EXPECT_TRUE(shown("\"img/new.png\""));
    // The picture is added, then the scene is changed, neither in the editor.
    fs.AddFile("/game/img/new.png", "png");
    EXPECT_EQ(watched, shown("\"img/new.png\"")) << watched;
    fs.AddFile("/game/scenes/d.txt", "layer x, \"img/gone.png\";\n");
    EXPECT_EQ(!watched, shown("\"img/gone.png\"")) << watched;
  }
}

TEST(GameAnalysis, AnUnreachedScriptEditedAtItsStartIsShownAtItsNewStart) {
  MemoryFileSystem fs;
  fs.AddFile("/game/main.txt", "create_window;\n");
  fs.AddFile("/game/c.txt", "show;\n");
  GameAnalysis analysis(fs);
  Published(Configured(analysis));
  const std::string edited = "layer x, 1;\n";
  analysis.SetDocument("/game/c.txt", DocumentText::FromCp932(edited));
  fs.AddFile("/game/c.txt", edited);
  GameAnalysis fresh(fs);
  EXPECT_EQ(Published(Configured(fresh)), Published(analysis));
}

TEST(GameAnalysis, AWholeRunShowsTheReportsOfAnEditedScriptAgainstItsNewText) {
  // An alias and a variable made in main.txt convert the whole game again. The scripts
  // not edited keep the ranges shown before; the report that nothing
  // reaches c.txt, the same but for the line it covers, is shown anew.
  MemoryFileSystem fs;
  fs.AddFile("/game/main.txt", "create_window;\n");
  fs.AddFile("/game/b.txt", "show;\n");
  fs.AddFile("/game/c.txt", "show;\n");
  GameAnalysis analysis(fs);
  Published(Configured(analysis));
  const int runs = analysis.full_runs();
  for (const auto& [path, text] : {std::pair{"/game/main.txt", "create_window;\nnew_command hop, goto;\nvalue v;\n"},
                                   std::pair{"/game/c.txt", "layer x, 1;\n"}}) {
    analysis.SetDocument(path, DocumentText::FromCp932(text));
    fs.AddFile(path, text);
  }
  const std::vector<std::string> edited = Published(analysis);
  EXPECT_EQ(runs + 1, analysis.full_runs());
  GameAnalysis fresh(fs);
  EXPECT_EQ(Published(Configured(fresh)), edited);
}

TEST(NameStore, EqualNamesShareANumberAndViewsStayValidAsItGrows) {
  NameStore store;
  const NameStore::Id empty = store.Intern("");
  const std::string long_name(100000, 'x');  // longer than a block's share
  const NameStore::Id long_id = store.Intern(long_name);
  std::vector<std::string_view> views;
  for (int i = 0; i < 50000; ++i) {
    const std::string name = "name" + std::to_string(i) + std::string(i % 7, '\0');
    ASSERT_EQ(store.Intern(name), static_cast<NameStore::Id>(i + 2));
    views.push_back(store.View(i + 2));
  }
  EXPECT_EQ(store.size(), 50002u);
  EXPECT_EQ(store.Intern(""), empty);
  EXPECT_EQ(store.View(empty), "");
  EXPECT_EQ(store.Intern(long_name), long_id);
  EXPECT_EQ(store.View(long_id), long_name);
  for (int i = 0; i < 50000; ++i) {
    const std::string name = "name" + std::to_string(i) + std::string(i % 7, '\0');
    ASSERT_EQ(views[i], name);  // taken before the store grew
    ASSERT_EQ(store.Find(name), static_cast<NameStore::Id>(i + 2));
    ASSERT_EQ(store.Intern(name), static_cast<NameStore::Id>(i + 2));
  }
  EXPECT_EQ(store.Find("name50000"), NameStore::kNone);
  EXPECT_EQ(store.size(), 50002u);
  // Trimmed, it keeps its names and views, and grows again.
  store.shrink_to_fit();
  EXPECT_EQ(store.Intern("name50000"), 50002u);
  const std::string last = "name49999" + std::string(49999 % 7, '\0');
  EXPECT_EQ(store.Find(last), 50001u);
  EXPECT_EQ(views[49999], last);
  EXPECT_EQ(store.View(long_id), long_name);
}

TEST(NameStore, AnIdTableFindsWhatRemainsAfterErasures) {
  IdTable<int> table;
  std::map<NameStore::Id, int> expected;
  uint32_t random = 12345;
  for (int round = 0; round < 20000; ++round) {
    random = random * 1103515245u + 12345u;
    const NameStore::Id id = (random >> 8) % 3000;
    if ((random >> 4) % 3 == 0) {
      table.Erase(id);
      expected.erase(id);
    } else {
      table[id] = round;
      expected[id] = round;
    }
  }
  EXPECT_EQ(table.size(), expected.size());
  for (NameStore::Id id = 0; id < 3000; ++id) {
    const int* value = table.Find(id);
    auto it = expected.find(id);
    ASSERT_EQ(value != nullptr, it != expected.end()) << id;
    if (value != nullptr) {
      ASSERT_EQ(*value, it->second) << id;
    }
  }
  size_t visited = 0;
  table.ForEach([&](NameStore::Id id, int value) {
    ++visited;
    EXPECT_EQ(expected.at(id), value);
  });
  EXPECT_EQ(visited, expected.size());
}

TEST(GameAnalysis, AMentionKeepsItsPlaceInSixteenBytes) {
  const Mention one(NameEntry::kLabel, true, CmdInvalid, 7, {3000000, 70000}, {3000000, 70012});
  EXPECT_EQ(one.start(), (SourcePosition{3000000, 70000}));
  EXPECT_EQ(one.end(), (SourcePosition{3000000, 70012}));
  EXPECT_EQ(one.kind(), NameEntry::kLabel);
  EXPECT_TRUE(one.definition());
  EXPECT_EQ(one.command(), CmdInvalid);
  EXPECT_EQ(one.name, 7u);
  // Over lines: the end's own column; past what is kept, the largest kept.
  const Mention lines(NameEntry::kFile, false, -1, 0, {5, 9}, {7, 3});
  EXPECT_EQ(lines.end(), (SourcePosition{7, 3}));
  EXPECT_EQ(lines.command(), -1);
  const Mention far(NameEntry::kFile, false, 0, 0, {5, 9}, {5 + 300, Mention::kMaxEnd + 5});
  EXPECT_EQ(far.end(), (SourcePosition{5 + Mention::kMaxEndLines, Mention::kMaxEnd}));
  const Mention wide(NameEntry::kVariable, false, 0, 0, {5, Mention::kMaxColumn + 9},
                     {5, Mention::kMaxColumn + 20});
  EXPECT_EQ(wide.start(), (SourcePosition{5, Mention::kMaxColumn}));
  EXPECT_EQ(wide.end(), (SourcePosition{5, Mention::kMaxColumn + 20}));
}

}  // namespace
}  // namespace kv
