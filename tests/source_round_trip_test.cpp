// The round trip script -> object -> kvdump --source -> object: for every
// game the tests convert (the sample game among them), for the large
// generated game of the benchmarks and for generated scripts of every kind
// of statement.
#include "test_support/source_round_trip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "../bench/script_generator.h"
#include "language/command_table.h"
#include "test_support/conversion_harness.h"

namespace kv {
namespace {

// Every script object a test's conversion writes must come back the same.
const bool kEveryGameGoesRound = [] {
  SetScriptObjectObserver([](const std::string& stored) {
    std::string difference;
    if (!SourceRoundTrip(stored, &difference)) {
      ADD_FAILURE() << "script -> object -> kvdump --source -> object: " << difference;
    }
  });
  return true;
}();

// Converts `fs` (the observer goes round with the object) and goes round
// once more here, so a failure names this test's game.
void ExpectRoundTrip(MemoryFileSystem& fs, const std::string& object = "/game/script.kvo") {
  ConversionRun run = RunConversion(fs);
  ASSERT_EQ(0, run.status) << run.console.substr(0, 4000);
  std::string difference;
  EXPECT_TRUE(SourceRoundTrip(fs.FileContents(object), &difference)) << difference;
}

// The game of bench/make_script_tree DIR 25 385, which bench/table.sh
// compiles: 25 MiB of script in 385 scenes and main.txt.
TEST(SourceRoundTrip, LargeGeneratedGame) {
#if defined(__SANITIZE_ADDRESS__) || !defined(NDEBUG)
  const size_t mebibytes = 2;  // the same game, smaller, where every step is slower
#else
  const size_t mebibytes = 25;
#endif
  const int files = 385;
  MemoryFileSystem fs("/game");
  std::mt19937 rng(42);
  fs.AddFile("/game/main.txt", bench::MainScript(files));
  for (int i = 0; i < files; ++i) {
    bench::SceneWriter writer(rng, i);
    fs.AddFile("/game/scenes/scene" + std::to_string(i) + ".txt",
               writer.Write((mebibytes << 20) / files));
  }
  ExpectRoundTrip(fs);
}

// Random scripts that use every kind of statement, block and expression the
// language has, each game converted without an error and gone round.
class ScriptGenerator {
 public:
  explicit ScriptGenerator(uint32_t seed) : rng_(seed) {}

  // A game: main.txt and a few more scripts. The setup phase ends with
  // create_window in main.txt, in a later script, or never.
  void Game(MemoryFileSystem& fs) {
    const int scripts = Pick(4);
    const int window_in = Pick(6) == 0 ? Pick(scripts + 2) : 0;  // past the last: never
    std::vector<std::string> names = {"/game/main.txt"};
    for (int i = 0; i < scripts; ++i) {
      names.push_back(i == 0 && Pick(2) ? "/game/a.txt"
                                        : "/game/scenes/s" + std::to_string(i) + ".txt");
    }
    // Compiled main.txt first, then in byte order of the paths.
    std::sort(names.begin() + 1, names.end());
    setup_ = true;
    for (size_t i = 0; i < names.size(); ++i) {
      out_.clear();
      if (setup_) {
        Statements(0, false, false, 1 + Pick(4));
        if (static_cast<int>(i) == window_in) {
          Line(0, "create_window;");
          setup_ = false;
        }
      }
      Statements(0, false, false, setup_ ? Pick(3) : 2 + Pick(12));
      if (Pick(8) == 0) Line(0, "end;");
      fs.AddFile(names[i], out_);
    }
  }

 private:
  int Pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }
  template <size_t N>
  const char* One(const char* const (&list)[N]) {
    return list[Pick(static_cast<int>(N))];
  }

  void Line(int depth, const std::string& text) {
    out_ += std::string(static_cast<size_t>(depth) * Pick(3), ' ') + text + "\n";
  }

  std::string Variable() {
    static const char* const kNames[] = {"a",  "b",     "count", "_x9", "\x95\xCF\x90\x94", ".5",
                                         "x$", "ab\"c", "flag!", "hp",  "\x83\x5C"};
    return One(kNames);
  }
  // A variable named like a command: never the first word of a statement.
  std::string CommandNamedVariable() {
    static const char* const kNames[] = {"text", "end", "calc", "if", "value", "goto"};
    return One(kNames);
  }
  std::string Number() {
    static const char* const kNumbers[] = {
        "0",          "7",           "123",       "0.3",         "12.05",        "2.675",
        "3.14159265", "0.1",         "1.0000001", "99999999999", "4294967295",   "2147483648",
        "0x1F",       "0xFFFFFFFF",  "0b101",     "5.",          "0.0000000001", "5.3000000000",
        "1.5e3",      "65535.99999", "1.5.3"};
    return One(kNumbers);
  }
  std::string String() {
    static const char* const kStrings[] = {"\"\"",
                                           "\"plain\"",
                                           "'single'",
                                           "\"it's\"",
                                           "'say \"hi\"'",
                                           "\"it's\" '\"x\"'",
                                           "\"a/\" \"/b\"",
                                           "\"x/\" '*y*/'",
                                           "\"\x82\xA0\x82\xA2\"",
                                           "\"line\nbreak\"",
                                           "\"tab\there\"",
                                           "\"end\"",
                                           "\"a\" \n \"b\""};
    return One(kStrings);
  }
  std::string Operand() {
    switch (Pick(6)) {
      case 0:
      case 1:
        return Variable();
      case 2:
        return Number();
      case 3:
        return String();
      case 4:
        return Pick(2) ? CommandNamedVariable() : Variable();
      default:
        return Pick(2) ? "-" + Number() : "-" + Variable();
    }
  }
  std::string Expression(int depth, bool pieces = false) {
    if (depth <= 0 || Pick(3) == 0) return Operand();
    static const char* const kOperators[] = {"==", "#", ">", ">=", "<", "<=", "+",  "-", "*",
                                             "/",  "%", "|", "&",  "=", "||", "&&", "@"};
    static const char* const kOpen[] = {"(", "[", "{"};
    static const char* const kClose[] = {")", "]", "}"};
    switch (Pick(8)) {
      case 0:
        return kOpen[Pick(3)] + Expression(depth - 1, pieces) + kClose[Pick(3)];
      case 1:
        return "-(" + Expression(depth - 1, pieces) + ")";
      case 2:
        return Number() + " " + (Pick(2) ? Variable() : "(" + Expression(depth - 1, pieces) + ")");
      default: {
        std::string op = kOperators[Pick(pieces ? 16 : 17)];
        return Expression(depth - 1, pieces) + " " + op + " " + Expression(depth - 1, pieces);
      }
    }
  }

  // A command the generic encoder writes, with a count of parameters it takes.
  void GenericCommand(int depth) {
    for (;;) {
      const int32_t id = setup_ ? kSetupCommandIds[Pick(kSetupCommandCount)] : Pick(kCommandCount);
      if (id <= cmd::kCalc || (id >= cmd::kGoto && id <= cmd::kLoopEnd) ||
          (id >= cmd::kFunctionDeclaration && id <= cmd::kFunctionEnd &&
           id != cmd::kFunctionCall) ||
          id == cmd::kCreateWindow || id == cmd::kNewCommand || id == cmd::kVoid ||
          id == cmd::kVoidEnd || id >= cmd::kClearNewCommand) {
        continue;
      }
      if (id == cmd::kWindowSize && !setup_) continue;
      const ParamCount count = kCommands[static_cast<size_t>(id)].count;
      const int max = count.max == 0 ? (count.min == 0 ? 0 : count.min + 2)
                                     : std::min(count.max, count.min + 3);
      const int n = count.min + Pick(max - count.min + 1);
      std::string line(kCommands[static_cast<size_t>(id)].name);
      for (int p = 0; p < n; ++p) line += (p == 0 ? " " : ", ") + Expression(3);
      Line(depth, line + ";");
      return;
    }
  }

  void Declaration(int depth) {
    static const char* const kKinds[] = {"value",  "global_value",  "local_value",
                                         "string", "global_string", "local_string"};
    std::string line = One(kKinds);
    const int n = 1 + Pick(3);
    for (int p = 0; p < n; ++p) {
      line += p == 0 ? " " : ", ";
      const int pieces = 1 + Pick(3);
      for (int k = 0; k < pieces; ++k) line += (k ? " @ " : "") + Expression(2, true);
    }
    if (n > 1 && Pick(4) == 0) line += ",";  // an empty last parameter
    Line(depth, line + ";");
  }

  std::string Name(const char* kind) {
    static const char* const kNames[] = {"f",   "g",  "start", "\x8F\x49\x82\xED\x82\xE8",
                                         "end", "x_1"};
    return std::string(kind) + "_" + One(kNames);
  }

  void Statements(int depth, bool in_loop, bool in_function, int count) {
    for (int s = 0; s < count; ++s) Statement(depth, in_loop, in_function);
    // A label at the end of a block: before its elseif, else, endif,
    // loop_end or function_end.
    if (Pick(4) == 0) Line(depth, Name("label") + ":");
  }

  void Statement(int depth, bool in_loop, bool in_function) {
    const bool nest = depth < 4;
    switch (Pick(20)) {
      case 0:
      case 1:
      case 2:
        GenericCommand(depth);
        break;
      case 3:  // calc, bare and written out
        if (Pick(3) == 0) {
          Line(depth, "calc " + Expression(3) + ";");
        } else {
          Line(depth, Variable() + " = " + Expression(3) + ";");
        }
        break;
      case 4:  // lines of text and statements that only look like them
        if (setup_) {
          Line(depth, Variable() + ";");
        } else {
          switch (Pick(5)) {
            case 0:
              Line(depth, Variable() + ";");
              break;
            case 1:
              Line(depth, Variable() + ", " + Expression(2) + ";");
              break;
            case 2:
              Line(depth, String() + ";");
              break;
            case 3:
              Line(depth, "(" + CommandNamedVariable() + ") + 1, " + Expression(1) + ";");
              break;
            default:
              Line(depth, "5;");
              break;
          }
        }
        break;
      case 5:
        Line(depth, "(" + CommandNamedVariable() + ") = " + Expression(2) + ";");
        break;
      case 6:
        Declaration(depth);
        break;
      case 7:
        if (!nest) break;
        Line(depth, "if " + Expression(3) + ";");
        Statements(depth + 1, in_loop, in_function, Pick(3));
        for (int e = Pick(3); e > 0; --e) {
          Line(depth, "elseif " + Expression(2) + ";");
          Statements(depth + 1, in_loop, in_function, Pick(3));
        }
        if (Pick(2)) {
          Line(depth, "else;");
          Statements(depth + 1, in_loop, in_function, Pick(3));
        }
        Line(depth, "endif;");
        break;
      case 8:
        if (!nest) break;
        Line(depth, "loop " + Expression(2) + ";");
        Statements(depth + 1, true, in_function, Pick(4));
        Line(depth, "loop_end;");
        break;
      case 9:
        if (in_loop) Line(depth, "loop_exit;");
        if (in_function) Line(depth, "function_exit;");
        break;
      case 10:  // guard clauses
        if (in_function || in_loop) {
          Line(depth, "if " + Expression(1) + ";");
          Line(depth + 1, in_function && (!in_loop || Pick(2)) ? "function_exit;" : "loop_exit;");
          Line(depth, "endif;");
        }
        break;
      case 11:
        if (!nest) break;
        Line(depth, "function " + (Pick(5) ? Name("f") : "\"a function\"") + ";");
        Statements(depth + 1, in_loop, true, Pick(4));
        if (Pick(2)) Line(depth + 1, "function_exit;");
        Line(depth, "function_end;");
        break;
      case 12:
        Line(depth, Name("label") + ":");
        break;
      case 13:  // blocks and statements that leave no code
        Line(depth, "void;");
        Line(depth + 1, "anything at all, (\"here\";");
        Line(depth, "void_end;");
        Line(depth, "debug_only;");
        Line(depth + 1, "debug_message \"x\";");
        Line(depth, "debug_only_end;");
        Line(depth, "function_declaration f, g;");
        break;
      case 14:
        Line(depth, "release_only;");
        Statement(depth + 1, in_loop, in_function);
        Line(depth, "release_only_end;");
        break;
      case 15:
        if (!setup_) {
          Line(depth, "new_command alias_show, layer_show;");
          Line(depth, "alias_show bg, 1, 2;");
        }
        break;
      case 16:
        Line(depth, "// a comment, \"quoted\" /* not a block\n/* a block\n comment */");
        break;
      case 17:
        if (!setup_) Line(depth, "text " + String() + ", " + Expression(2) + ";");
        break;
      case 18:
        Line(depth, "goto " + Name("label") + ";");
        break;
      default:
        if (setup_)
          Line(depth, "window_size " + Expression(1) + ", " + Expression(1) + ";");
        else
          Line(depth, "function_call " + Name("f") + ";");
        break;
    }
  }

  std::mt19937 rng_;
  std::string out_;
  bool setup_ = true;
};

TEST(SourceRoundTrip, GeneratedScriptsOfEveryKind) {
  int converted = 0;
  for (uint32_t seed = 1; seed <= 400; ++seed) {
    MemoryFileSystem fs("/game");
    ScriptGenerator(seed).Game(fs);
    ConversionRun run = RunConversion(fs);
    if (run.status != 0) {
      std::string scripts;
      for (const auto& [path, text] : fs.Files()) scripts += "--- " + path + "\n" + text;
      ADD_FAILURE() << "seed " << seed << ": the generated game does not convert\n"
                    << run.console.substr(0, 3000) << scripts.substr(0, 6000);
      continue;
    }
    ++converted;
    std::string difference;
    EXPECT_TRUE(SourceRoundTrip(fs.FileContents("/game/script.kvo"), &difference))
        << "seed " << seed << ": " << difference;
  }
  EXPECT_EQ(400, converted);
}

}  // namespace
}  // namespace kv
