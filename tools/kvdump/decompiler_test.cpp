#include "kvdump/decompiler.h"

#include <gtest/gtest.h>

#include "kvdump/checker.h"
#include "kvdump/test_objects.h"
#include "output/scramble.h"
#include "test_support/conversion_harness.h"

namespace kv::kvdump {
namespace {

using namespace testing;

// The decompiled text of every script of an unscrambled image, each after a
// line "--- PATH"; or "refused: MESSAGE @ OFFSET".
std::string Decompiled(const std::string& image) {
  ObjectHeader header;
  Problem problem;
  std::vector<ScriptSource> scripts;
  if (!ReadHeader(image, &header, &problem) ||
      !DecompileScripts(image, header, &scripts, &problem)) {
    return "refused: " + problem.message + " @ " + std::to_string(problem.offset);
  }
  std::string out;
  for (const ScriptSource& s : scripts) {
    out += "--- " + std::string(header.entries[s.entry].name) + "\n" + s.text;
  }
  return out;
}

// Converts a game of main.txt (and scenes/b.txt when given) and decompiles it.
std::string Converted(const std::string& main, const std::string& b = "") {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt", main);
  if (!b.empty()) fs.AddFile("/game/scenes/b.txt", b);
  ConversionRun run = RunConversion(fs);
  EXPECT_EQ(0, run.status) << run.console;
  return Decompiled(ReadObject(fs, "/game/script.kvo"));
}

TEST(DecompileScripts, WritesEveryKindOfStatementBack) {
  EXPECT_EQ(
      "--- /game/main.txt\n"
      "window_title \"t\";\n"
      "calc text * \"setup\";\n"
      "x = 1;\n"
      "global_value g @ 0 @ 1, h;\n"
      "create_window;\n"
      "value a @ 2, b, ;\n"
      "string s @ 'say \"hi\"' @ \"it's\"'\"x\"';\n"
      "layer_show bg, 0, -12.5;\n"
      "a = (b + 1) * -1 * (0 - a) @ 3;\n"
      "calc text = 1;\n"
      "calc c;\n"
      "Hello, a;\n"
      "(end + 1), 2;\n"
      "\"only\";\n"
      "4294967295;\n"
      "function f;\n"
      "  if a == 1;\n"
      "    function_exit;\n"
      "  endif;\n"
      "  loop a < 10;\n"
      "    a = a + 0.3;\n"
      "    if a > 5;\n"
      "      loop_exit;\n"
      "    elseif a > 4;\n"
      "      text \"4\";\n"
      "    else;\n"
      "    endif;\n"
      "  loop_end;\n"
      "function_end;\n"
      "top:\n"
      "function_call f;\n"
      "goto top;\n"
      "--- /game/scenes/b.txt\n"
      "function f;\n"
      "function_end;\n"
      "function f;\n"
      "function_end;\n"
      "end:\n",
      Converted("window_title \"t\";\ntext \"setup\";\nx = 1;\nglobal_value g @ 0 @ 1, h;\n"
                "new_command show, layer_show;\ncreate_window;\n"
                "value a @ 2, b,;\nstring s @ 'say \"hi\"' @ \"it's\" '\"x\"';\n"
                "show bg, 0, -12.5;\na = (b + 1) * -(-a) @ 3;\n(text) = 1;\ncalc c;\n"
                "Hello, a;\n(end) + 1, 2;\n\"only\";\n4294967295;\n"
                "function f;\n if a == 1; function_exit; endif;\n"
                " loop a < 10;\n  a = a + 0.3;\n  if a > 5; loop_exit; elseif a > 4; text \"4\";\n"
                "  else; endif;\n loop_end;\nfunction_end;\n"
                "void; anything; void_end;\ndebug_only; debug_message \"d\"; debug_only_end;\n"
                "top:\nrelease_only; function_call f; release_only_end;\ngoto top;\n",
                "function f;\nfunction_end;\nfunction f;\nfunction_end;\nend:\n"));
}

TEST(DecompileScripts, SetupPhaseGoesOnIntoTheNextScriptWithoutCreateWindow) {
  EXPECT_EQ(
      "--- /game/main.txt\n"
      "window_title \"t\";\n"
      "--- /game/scenes/b.txt\n"
      "calc hello;\n"
      "create_window;\n"
      "hello;\n",
      Converted("window_title \"t\";\n", "hello;\ncreate_window;\nhello;\n"));
}

// A script object of main.txt with this code (the end command added).
std::string Main(const std::string& code, const std::vector<Def>& labels = {},
                 const std::vector<Def>& functions = {}) {
  return ScriptImage({{"/game/main.txt", Cmd(399, 0) + code + End()}}, labels, functions);
}

TEST(DecompileScripts, RefusesWhatNoScriptCompilesTo) {
  const std::string text = Cmd(15, 1) + Count(1);
  struct Case {
    std::string image;
    std::string refusal;
  };
  const Case cases[] = {
      {Main(Cmd(606, 1) + Jump(0)),
       "script 0, entry 2: the jump lands on entry 5, where no enclosing loop or function ends"},
      {Main(Cmd(281, 2) + Count(1) + Var("a") + Jump(3) + Cmd(606, 1) + Jump(-3)),
       "script 0, entry 6: the jump lands on entry 6, where no enclosing loop or function ends"},
      {Main(Cmd(281, 2) + Count(1) + Var("a") + Jump(2) + Cmd(346, 0) + text + Num(1) + Cmd(351, 0),
            {}, {{"f", "/game/main.txt", 8}}),
       "script 0, entry 6: the function reaches past the block it stands in"},
      {Main(Cmd(281, 2) + Count(1) + Var("a") + Jump(7)),
       "script 0, entry 2: the conditional jump lands on entry 13, where no branch of its block "
       "ends"},
      {Main(Cmd(283, 0)), "script 0, entry 2: command 283 is never written as a statement"},
      {Main(Cmd(700, 0)), "script 0, entry 2: command 700 is never written as a statement"},
      {Main(text + Num(1e20)), "script 0, entry 2: no numeric literal reads back as 1e+20"},
      {Main(text + Var("a b")),
       "script 0, entry 2: the variable name \"a b\" cannot be written in a script"},
      {Main(text + Str("\x1A")),
       "script 0, entry 2: the string \"\\x1A\" cannot be written in a script"},
      {Main(Cmd(15, 2) + Count(1) + Var("a") + Count(0)),
       "script 0, entry 2: an empty parameter, which only a declaration can end with"},
      {Main(Cmd(0, 2) + Count(0) + Count(1) + Var("a")),
       "script 0, entry 2: an empty declaration parameter that is not the last one"},
      {Main(Cmd(155, 1) + Count(1) + Var("a")),
       "script 0, entry 2: command \"layer_show\" with 1 parameters"},
      {Main(Cmd(607, 1) + Count(3) + Var("a") + Var("b") + Op(6)),
       "script 0, entry 2: a line of text whose only parameter is no single element"},
      {ScriptImage({{"/game/main.txt", Cmd(607, 1) + Count(1) + Var("a") + End()}}),
       "script 0, entry 0: a line of text in the setup phase, which reads it as calc"},
      {ScriptImage({{"/game/main.txt", Cmd(155, 3) + Count(1) + Var("a") + Count(1) + Num(0) +
                                           Count(1) + Num(0) + End()}}),
       "script 0, entry 0: command \"layer_show\" in the setup phase, which knows only the setup "
       "commands"},
      {Main(Cmd(346, 0) + Cmd(351, 0)),
       "script 0, entry 2: a function command that no function of its script is recorded at"},
      {Main(Cmd(351, 0)), "script 0, entry 2: a function_end without its function"},
      {Main(text + Num(1), {{"x", "/game/main.txt", 3}}),
       "script 0, entry 3: label \"x\" names an entry where no statement begins"},
      {Main(text + Num(1), {{"a b", "/game/main.txt", 2}}),
       "script 0, entry 2: label \"a b\" is no name a script can define"},
      {Main("", {}, {{"f", "/game/main.txt", 2}}),
       "script 0, entry 2: function \"f\" names an entry that does not follow a function command"},
      {ScriptImage({{"/game/main.txt", Cmd(399, 0) + Str("error")}}),
       "script 0, entry 2: the script was abandoned at the error limit (it ends with the "
       "\"error\" marker)"},
      {ScriptImage({{"/game/main.txt", End()}}, {}, {}, "/other/"),
       "the object lists no main.txt in its engine directory \"/other/\""},
      {ScriptImage({{"/game/main.txt", End()}, {"/game/main.txt", End()}}),
       "script 1 has the path of script 0"},
      {ScriptImage({{"/game/a.txt", End()}, {"/game/main.txt", End()}},
                   {{"a", "/game/a.txt", 0}, {"m", "/game/main.txt", 0}}),
       "label 1 stands out of the order in which the converter records them"},
      {ScriptImage({{"/game/main.txt", End()}},
                   {{"a", "/game/main.txt", 0}, {"a", "/game/main.txt", 0}}),
       "label 1 is recorded a second time for its script"},
  };
  for (const Case& c : cases) {
    const std::string result = Decompiled(c.image);
    EXPECT_EQ(0u, result.find("refused: " + c.refusal + " @ ")) << result;
  }
}

// A label stands before the statement whose entry it names; where blocks end
// together, after them all.
TEST(DecompileScripts, LabelsGoWhereTheirEntryIsAndBeforeAnElseifOnlyIfAnElseAndIfCanCarryThem) {
  EXPECT_EQ(
      "--- /game/main.txt\n"
      "create_window;\n"
      "if a;\n"
      "  before_elseif:\n"
      "else;\n"
      "  before_if:\n"
      "  if b;\n"
      "  endif;\n"
      "endif;\n"
      "before_endif:\n"
      "after_endif:\n"
      "loop c;\n"
      "  before_loop_end:\n"
      "loop_end;\n"
      "at_the_end:\n",
      Converted("create_window;\nif a;\nbefore_elseif:\nelse;\nbefore_if:\nif b;\n"
                "before_endif:\nendif;\nendif;\nafter_endif:\nloop c;\nbefore_loop_end:\n"
                "loop_end;\nat_the_end:\n"));
}

TEST(StringLiteral, QuotesSoThatTheScriptReaderGetsTheTextBack) {
  std::string out;
  ASSERT_TRUE(StringLiteral("", &out));
  EXPECT_EQ("\"\"", out);
  ASSERT_TRUE(StringLiteral("abc", &out));
  EXPECT_EQ("\"abc\"", out);
  ASSERT_TRUE(StringLiteral("say \"hi\"", &out));
  EXPECT_EQ("'say \"hi\"'", out);
  ASSERT_TRUE(StringLiteral("it's \"x\"", &out));
  EXPECT_EQ("\"it's \"'\"x\"'", out) << "both quote kinds: adjacent literals";
  ASSERT_TRUE(StringLiteral("a//b/*c*/", &out));
  EXPECT_EQ("\"a/\"\"/b/\"\"*c*/\"", out) << "no comment begins inside a literal";
  ASSERT_TRUE(StringLiteral("a\r\nb\rc\n", &out));
  EXPECT_EQ("\"a\r\"\"\nb\rc\n\"", out) << "no CR LF pair for the loader to fold";
  ASSERT_TRUE(StringLiteral(std::string("\0\x83\x5C", 3), &out));
  EXPECT_EQ(std::string("\"\0\x83\x5C\"", 5), out);
  EXPECT_FALSE(StringLiteral("a\x1A", &out));
}

}  // namespace
}  // namespace kv::kvdump
