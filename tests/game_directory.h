// A game tree in a temporary directory and runs of the KVConverter program
// over it, for the end-to-end tests.
#pragma once

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "output/scramble.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "test_support/source_round_trip.h"
#include "test_support/temp_directory.h"

namespace kv {

inline std::string Unscrambled(const std::string& stored) {
  std::string contents;
  return UnscrambleBytes(stored, &contents) ? contents : "";
}

class GameDirectory {
 public:
  // The root's absolute path, without a trailing separator.
  const std::string& root() const { return dir_.path(); }
  // `name` below the root, with the system's separator.
  std::string Path(const std::string& name) const { return dir_ / name; }

  void Write(const std::string& name, const std::string& contents) {
    WriteTestFile(Path(name), contents);
  }
  std::string Read(const std::string& name) const { return ReadTestFile(Path(name)); }
  bool Exists(const std::string& name) const { return TestFileExists(Path(name)); }

  // Runs the converter in the game directory with the words of `args`;
  // returns its exit status and stores what it printed, converted to UTF-8
  // when `utf8` asks for a UTF-8 console (where only the console's code page
  // could choose UTF-8, the captured CP932 bytes are converted).
  // Every object file the run writes must pass kvdump --check, and every
  // script object must come back the same from its scripts decompiled by
  // kvdump --source and converted again.
  int Run(const std::string& args, std::string* console, bool utf8 = true,
          const std::string& env = "SOURCE_DATE_EPOCH=1700000000") {
    const std::map<std::string, std::string> before = Objects();
    const int status = RunTool(KV_CONVERTER_NAME, args, console, utf8, env);
    for (const auto& [name, contents] : Objects()) {
      auto old = before.find(name);
      if (old != before.end() && old->second == contents) continue;
      std::string report;
      EXPECT_EQ(0, RunTool(KV_KVDUMP_NAME, "--check " + name, &report))
          << name << " written by KVConverter " << args << "\n" << report;
      if (Unscrambled(contents).compare(0, 3, "KVS") == 0) ExpectSourceRoundTrip(name, contents);
    }
    return status;
  }

  // kvdump --source writes the scripts of the script object `name`, and the
  // converter converts them again: the same code, labels and functions.
  void ExpectSourceRoundTrip(const std::string& name, const std::string& original) {
    DecompiledTree tree;
    std::string problem;
    ASSERT_TRUE(DecompileObject(original, &tree, &problem)) << name << ": " << problem;
    TempDirectory work;
    const std::string source = work / "src";
    std::string console;
    ASSERT_EQ(0, RunTool(KV_KVDUMP_NAME, "--source " + source + " " + name, &console))
        << name << "\n" << console;
    // The engine directory is CP932, the command line UTF-8 in tests.
    std::string args = "-xd " + (work / ("src/" + Cp932ToUtf8(tree.engine_directory))) +
                       " -td " + source +
                       " -i -a -m -so " + (work / "rebuilt.kvo") + " -se";
    for (const std::string& extension : tree.extensions) args += " " + extension;
    ASSERT_EQ(0, RunTool(KV_CONVERTER_NAME, args, &console)) << args << "\n" << console;
    std::string difference;
    EXPECT_TRUE(SameScripts(original, ReadTestFile(work / "rebuilt.kvo"),
                            source + RealFileSystem().Separator(), &difference))
        << name << ": " << difference;
  }

  // Runs `program`, one of the programs built beside the tests, in the game
  // directory with the words of `args`.
  int RunTool(const std::string& program, const std::string& args, std::string* console,
              bool utf8 = true, const std::string& env = "") {
    std::vector<std::string> words;
    std::istringstream in(args);
    for (std::string word; in >> word;) words.push_back(word);
    std::vector<std::string> environment{utf8 ? "LC_ALL=C.UTF-8" : "LC_ALL=C"};
    if (!env.empty()) environment.push_back(env);
    ProgramRun run = RunProgram(ExecutableDirectory() + program, words, root(), environment);
    EXPECT_FALSE(run.timed_out) << program << " " << args << " still ran after "
                                << kProgramDeadlineSeconds << " seconds";
    *console = utf8 && !kLocaleChoosesConsoleEncoding ? Cp932ToUtf8(run.output) : run.output;
    return run.status;
  }

 private:
  // The object files in the game directory, by name.
  std::map<std::string, std::string> Objects() const {
    std::map<std::string, std::string> objects;
    for (const auto& entry : std::filesystem::directory_iterator(root())) {
      if (entry.path().extension() == ".kvo" && entry.is_regular_file()) {
        objects[entry.path().filename().string()] = ReadTestFile(entry.path().string());
      }
    }
    return objects;
  }

  TempDirectory dir_;
};

}  // namespace kv
