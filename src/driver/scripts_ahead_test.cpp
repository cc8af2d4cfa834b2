#include "driver/scripts_ahead.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support/conversion_harness.h"

namespace kv {
namespace {

// A game whose scripts depend on one another through what compiling ahead
// must respect: errors that reach the limit across scripts of the two
// threads, definitions, warnings and cross-references. (Aliases are in the
// game below: one made while a script is compiled ahead would make it be
// compiled again, whatever its errors.)
void AddGame(MemoryFileSystem& fs) {
  fs.AddFile("/game/main.txt", "window_title \"t\";\ncreate_window;\ntext \"m\";\nfunction_call f1;\n");
  // The scripts after a01 go to the two threads in turns, a02 ahead.
  fs.AddFile("/game/s/a01.txt", "text \"x\";\n");
  fs.AddFile("/game/s/a02.txt", "text \"y\";\nback:\n");
  fs.AddFile("/game/s/a03.txt", "goto back;\n");
  // 30, 30, 60 and 60 errors: the limit is passed inside a06 and a07.
  for (int i = 4; i < 8; ++i) {
    std::string errors;
    for (int n = 0; n < (i < 6 ? 30 : 60); ++n) errors += "text a,,b;\n";
    fs.AddFile("/game/s/a0" + std::to_string(i) + ".txt", errors);
  }
  fs.AddFile("/game/s/a08.txt",
             "function f1;\ntext a;\nfunction_end;\nfunction f1;\nfunction_end;\nstart:\ngoto start;\n");
  fs.AddFile("/game/s/a09.txt", "\xEF\xBB\xBFtext a;\ngoto nowhere;\nfunction_call none;\ngoto back");
  for (int i = 10; i < 16; ++i) {
    fs.AddFile("/game/s/a" + std::to_string(i) + ".txt",
               "loop a < " + std::to_string(i) + ";\n  text \"" + std::string(i, 'x') +
                   "\";\nloop_end;\nl" + std::to_string(i) + ":\nstart:\n");
  }
}

TEST(AheadCompilerTest, RunsReadAsIfOneThreadHadCompiled) {
  const std::vector<std::vector<std::string>> runs = {
      {}, {"--check"}, {"--diagnostics=gnu", "-xd", "."}};
  for (const std::vector<std::string>& args : runs) {
    MemoryFileSystem serial("/game");
    MemoryFileSystem ahead("/game");
    AddGame(serial);
    AddGame(ahead);
    ahead.concurrent_reads = true;
    const ConversionRun one = RunConversion(serial, args);
    const ConversionRun two = RunConversion(ahead, args);
    EXPECT_EQ(one.status, two.status) << args.size();
    EXPECT_EQ(one.console, two.console) << args.size();
    EXPECT_EQ(serial.Files(), ahead.Files()) << args.size();
    EXPECT_EQ(serial.reads_on_other_threads, 0);
    EXPECT_GT(ahead.reads_on_other_threads, 2) << "scripts were compiled ahead";
  }
}

TEST(AheadCompilerTest, AGameWithoutErrorsWritesTheSameObject) {
  MemoryFileSystem serial("/game");
  MemoryFileSystem ahead("/game");
  for (MemoryFileSystem* fs : {&serial, &ahead}) {
    fs->AddFile("/game/main.txt", "create_window;\nfunction_call f3;\n");
    // Scripts go to the two threads in turns (a0 here, a1 ahead, a2 here,
    // ...): aliases made by either thread and used by the other.
    fs->AddFile("/game/a0.txt", "text \"plain\";\n");
    fs->AddFile("/game/a1.txt", "new_command say, text;\n");
    fs->AddFile("/game/a2.txt", "say \"x\";\n");
    fs->AddFile("/game/a3.txt", "say \"y\";\nnew_command show, layer_show;\n");
    fs->AddFile("/game/a4.txt", "show bg, 0, 0;\nnew_command play, sound_play;\n");
    fs->AddFile("/game/a5.txt", "play \"a.wav\";\n");
    for (int i = 0; i < 9; ++i) {
      fs->AddFile("/game/s" + std::to_string(i) + ".txt",
                  "function f" + std::to_string(i) + ";\nif a == " + std::to_string(i) +
                      ";\n text \"t\";\nendif;\nfunction_end;\nl" + std::to_string(i) + ":\n");
    }
  }
  ahead.concurrent_reads = true;
  const ConversionRun one = RunConversion(serial);
  const ConversionRun two = RunConversion(ahead);
  EXPECT_EQ(one.console, two.console);
  ASSERT_EQ(one.status, 0) << one.console;
  EXPECT_EQ(ReadObject(serial, "/game/script.kvo"), ReadObject(ahead, "/game/script.kvo"));
  EXPECT_GT(ahead.reads_on_other_threads, 2);
}

}  // namespace
}  // namespace kv
