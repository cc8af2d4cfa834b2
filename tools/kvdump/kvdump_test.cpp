#include "kvdump/kvdump.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "kvdump/test_objects.h"
#include "output/scramble.h"
#include "platform/console.h"
#include "test_support/scramble_reference.h"
#include "test_support/conversion_harness.h"

namespace kv::kvdump {
namespace {

using namespace testing;

// Files written below the directory of -x or --source, by their place.
class MemoryTree : public TreeWriter {
 public:
  MemoryTree(std::string root, std::map<std::string, std::string>* files)
      : root_(std::move(root)), files_(files) {}
  bool WriteFile(const std::vector<std::string>& components, std::string_view contents,
                 bool overwrite, std::string* error) override {
    std::string path = root_;
    for (const std::string& c : components) path += "/" + c;
    if (files_->count(path) && !overwrite) {
      *error = "exists (--force overwrites)";
      return false;
    }
    (*files_)[path] = contents;
    return true;
  }

 private:
  std::string root_;
  std::map<std::string, std::string>* files_;
};

class KvdumpTest : public ::testing::Test {
 protected:
  int Run(const std::string& command_line) {
    std::vector<std::string> args;
    std::istringstream words(command_line);
    for (std::string w; words >> w;) args.push_back(w);
    out.clear();
    err.clear();
    Environment env{fs, [this](std::string_view s) { out += s; },
                    [this](std::string_view s) { err += s; }, true,
                    [this](const std::string& root,
                           std::string* error) -> std::unique_ptr<TreeWriter> {
                      if (root != "tree" && root != "src") {
                        *error = "no directories here";
                        return nullptr;
                      }
                      return std::make_unique<MemoryTree>(root, &tree);
                    }};
    return kvdump::Run(args, env);
  }

  MemoryFileSystem fs{"/game"};
  std::string out, err;
  // What -x and --source wrote below "tree" or "src", by path ("tree/a/b").
  std::map<std::string, std::string> tree;
};

TEST_F(KvdumpTest, UsageErrorsExitWithTwo) {
  for (const char* line : {"kvdump", "kvdump --bogus a.kvo", "kvdump --raw out.bin",
                           "kvdump --raw out.bin a.kvo b.kvo", "kvdump --force a.kvo",
                           "kvdump --check -d a.kvo", "kvdump --check -x dir a.kvo",
                           "kvdump --postfix a.kvo", "kvdump -x", "kvdump --source",
                           "kvdump --source= a.kvo", "kvdump --source d a.kvo b.kvo",
                           "kvdump --source d -x e a.kvo", "kvdump -d --source d a.kvo"}) {
    EXPECT_EQ(2, Run(line)) << line;
    EXPECT_NE(std::string::npos, err.find("Usage: kvdump")) << line;
    EXPECT_EQ("", out) << line;
  }
  EXPECT_EQ(0, Run("kvdump --version"));
  EXPECT_TRUE(std::regex_match(out, std::regex("kvdump [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << out;
  EXPECT_EQ(0, Run("kvdump --help"));
  EXPECT_NE(std::string::npos, out.find("--check"));
}

TEST_F(KvdumpTest, CheckNamesFileOffsetAndProblemAndGoesOnWithTheNextFile) {
  const std::string sound = ScriptImage({{"/a", End()}});
  fs.AddFile("/game/good.kvo", ScrambleBytes(sound, {9, 4}));
  fs.AddFile("/game/cut.kvo", ScrambleBytes(sound.substr(0, sound.size() - 1), {9, 4}));
  EXPECT_EQ(1, Run("kvdump --check cut.kvo missing.kvo good.kvo"));
  EXPECT_EQ("good.kvo: ok\n", out);
  EXPECT_EQ("kvdump: cut.kvo: offset 21 of the unscrambled image: the length of entry 0 (7) "
            "runs past the end of the image (49 bytes)\n"
            "kvdump: missing.kvo: cannot read the file: No such file or directory\n",
            err);
  EXPECT_EQ(0, Run("kvdump --check good.kvo"));

  // Listing a truncated object says what is wrong after what it could print.
  EXPECT_EQ(1, Run("kvdump -d cut.kvo"));
  EXPECT_EQ(0u, out.find("cut.kvo: script object \"KVS\", header 43 bytes, image 49 bytes\n"));
  EXPECT_NE(std::string::npos, err.find("the code lies outside the image"));
}

TEST_F(KvdumpTest, RawWritesTheUnscrambledImage) {
  const std::string image = ArchiveImage({{"/p", std::string("x\0", 2)}}, "KVA");
  fs.AddFile("/game/audio.kvo", ScrambleBytes(image, {200, 21}));
  EXPECT_EQ(0, Run("kvdump --raw audio.raw audio.kvo"));
  EXPECT_EQ(image, fs.FileContents("/game/audio.raw"));
  EXPECT_EQ(1, Run("kvdump --raw /nowhere/a.raw audio.kvo"));
  EXPECT_EQ("kvdump: /nowhere/a.raw: cannot write the file: No such file or directory\n", err);
  fs.write_budget = 3;
  EXPECT_EQ(1, Run("kvdump --raw audio.raw audio.kvo"));
  EXPECT_EQ("kvdump: audio.raw: cannot write the file: No space left on device\n", err);
  EXPECT_EQ(image, fs.FileContents("/game/audio.raw")) << "the older file stays";
  fs.AddSpecialFile("/game/fifo.raw");
  EXPECT_EQ(1, Run("kvdump --raw fifo.raw audio.kvo"));
  EXPECT_EQ("kvdump: fifo.raw: cannot write the file: Not a regular file\n", err);
  EXPECT_EQ(1, Run("kvdump -x dir audio.kvo"));
  EXPECT_EQ("kvdump: no directories here\n", err);
}

TEST_F(KvdumpTest, SourceWritesScriptsThatConvertBack) {
  fs.AddFile("/game/main.txt", "create_window;\nvalue a @ 1;\nif a; text \"x\"; endif;\n");
  fs.AddFile("/game/s/b.txt", "b:\ngoto b;\n");
  ASSERT_EQ(0, RunConversion(fs).status);
  EXPECT_EQ(0, Run("kvdump --source tree script.kvo"));
  EXPECT_EQ("game/main.txt\ngame/s/b.txt\n", out);
  EXPECT_EQ("", err);
  EXPECT_EQ("create_window;\nvalue a @ 1;\nif a;\n  text \"x\";\nendif;\n",
            tree["tree/game/main.txt"]);
  EXPECT_EQ("b:\ngoto b;\n", tree["tree/game/s/b.txt"]);

  // Existing files stay unless --force is given.
  tree["tree/game/s/b.txt"] = "older";
  EXPECT_EQ(1, Run("kvdump --source=tree script.kvo"));
  EXPECT_EQ("kvdump: script.kvo: script 0 \"/game/main.txt\" not written: exists (--force "
            "overwrites)\n"
            "kvdump: script.kvo: script 1 \"/game/s/b.txt\" not written: exists (--force "
            "overwrites)\n",
            err);
  EXPECT_EQ("older", tree["tree/game/s/b.txt"]);
  EXPECT_EQ(0, Run("kvdump --source tree --force script.kvo"));
  EXPECT_EQ("b:\ngoto b;\n", tree["tree/game/s/b.txt"]);
  // --force anywhere, also between the option and its directory: never a
  // directory named "--force".
  for (const char* line : {"kvdump --force --source tree script.kvo",
                           "kvdump --source --force tree script.kvo"}) {
    tree["tree/game/s/b.txt"] = "older";
    EXPECT_EQ(0, Run(line)) << line << err;
    EXPECT_EQ("b:\ngoto b;\n", tree["tree/game/s/b.txt"]) << line;
  }
  EXPECT_EQ(2, Run("kvdump --source --force")) << "still needs a directory";

  // Archives hold no scripts, script objects no files.
  fs.AddFile("/game/a.png", "png");
  ASSERT_EQ(0, RunConversion(fs, {"-s"}).status);
  EXPECT_EQ(1, Run("kvdump --source tree image.kvo"));
  EXPECT_EQ("kvdump: image.kvo: an archive holds no scripts (-x writes its files)\n", err);
  EXPECT_EQ(1, Run("kvdump -x tree script.kvo"));
  EXPECT_EQ("kvdump: script.kvo: a script object holds no files to extract (--source writes its "
            "scripts)\n",
            err);
}

TEST_F(KvdumpTest, LeftoversOfKilledRunsGoFromWhereItWrites) {
  fs.AddFile("/game/main.txt", "create_window;\n");
  ASSERT_EQ(0, RunConversion(fs).status);
  const std::string ended = TemporaryFileName(41, 0), alive = TemporaryFileName(42, 0);
  fs.live_processes.insert(42);
  for (const std::string dir : {"/game/tree/game/", "/game/out/", "/game/elsewhere/"}) {
    fs.AddFile(dir + ended, "left");
    fs.AddFile(dir + alive, "writing");
  }
  EXPECT_EQ(0, Run("kvdump --source tree script.kvo"));
  const std::string removed = "\", a temporary file that an interrupted run left\n";
  EXPECT_EQ("kvdump: removed \"tree/game/" + ended + removed, err);
  EXPECT_EQ(0, Run("kvdump --raw out/raw.bin script.kvo"));
  EXPECT_EQ("kvdump: removed \"out/" + ended + removed, err);
  EXPECT_FALSE(fs.HasFile("/game/tree/game/" + ended));
  EXPECT_FALSE(fs.HasFile("/game/out/" + ended));
  EXPECT_TRUE(fs.HasFile("/game/elsewhere/" + ended));
  for (const std::string dir : {"/game/tree/game/", "/game/out/"}) {
    EXPECT_TRUE(fs.HasFile(dir + alive)) << dir;
  }
}

TEST_F(KvdumpTest, SourceRefusesCodeThatFitsNoStatementAndWritesNothing) {
  // A jump that no block statement makes.
  const std::string image =
      ScriptImage({{"/game/main.txt", Cmd(399, 0) + Cmd(606, 1) + Jump(0) + End()}});
  fs.AddFile("/game/script.kvo", ScrambleBytes(image, {3, 7}));
  EXPECT_EQ(0, Run("kvdump --check script.kvo"));
  EXPECT_EQ(1, Run("kvdump --source tree script.kvo"));
  EXPECT_EQ("kvdump: script.kvo: offset 62 of the unscrambled image: script 0, entry 2: the jump "
            "lands on entry 5, where no enclosing loop or function ends\n",
            err);
  EXPECT_TRUE(tree.empty());

  // A script whose name Windows would not keep: no script is written.
  const std::string devices = ScriptImage(
      {{"/game/main.txt", Cmd(399, 0) + End()}, {"/game/nul.txt", End()}});
  fs.AddFile("/game/script.kvo", ScrambleBytes(devices, {3, 7}));
  EXPECT_EQ(1, Run("kvdump --source tree script.kvo"));
  EXPECT_EQ("kvdump: script.kvo: script 1 \"/game/nul.txt\" not written: the name \"nul.txt\" is "
            "the device NUL on Windows\n",
            err);
  EXPECT_TRUE(tree.empty());
}

// Hostile objects found by fuzzing and by hand: their size never multiplies.
TEST_F(KvdumpTest, AnObjectNeverMakesMoreThanItHolds) {
  // Every entry points at the same data: --check rejects it, and so do -x
  // and --source, before anything is written.
  const std::string data = std::string(1000, 'x') + '\0';
  std::string image = ArchiveImage({{"/g/a", data}, {"/g/b", ""}, {"/g/c", ""}});
  std::string overlapping = image;
  for (size_t entry : {1u, 2u}) {
    const size_t at = kFixedHeaderSize + entry * (kEntryOverhead + 4) + 4 + 4;
    std::string fields = U32(static_cast<uint32_t>(image.size() - data.size())) +
                         U32(static_cast<uint32_t>(data.size()));
    overlapping.replace(at, 8, fields);
  }
  fs.AddFile("/game/image.kvo", ScrambleBytes(overlapping, {9, 4}));
  EXPECT_EQ(1, Run("kvdump --check image.kvo"));
  const std::string problem = err;
  EXPECT_EQ(1, Run("kvdump -x tree image.kvo"));
  EXPECT_EQ(problem, err);
  EXPECT_TRUE(tree.empty());

  // Script entries that share one path, and labels that all name it: each
  // label is listed once, so the lines stay within the entries.
  const int n = 2000;
  std::vector<Named> scripts(n, Named{"/game/main.txt", End()});
  std::vector<Def> labels(n, Def{"l", "/game/main.txt", 0});
  fs.AddFile("/game/script.kvo", ScrambleBytes(ScriptImage(scripts, labels), {9, 4}));
  Run("kvdump -d script.kvo");
  const size_t lines = static_cast<size_t>(std::count(out.begin(), out.end(), '\n'));
  EXPECT_LE(lines, static_cast<size_t>(6 * n + 3));
  EXPECT_EQ(1, Run("kvdump --source tree script.kvo"));
  EXPECT_EQ("kvdump: script.kvo: offset 37 of the unscrambled image: script 1 has the path of "
            "script 0\n",
            err);
}

// The README shows kvdump at work on the sample game: every "$ kvdump ..."
// block there must be exactly what kvdump prints for the sample's objects,
// and every "$ iconv -f CP932 src/..." block a script that --source wrote.
TEST_F(KvdumpTest, ReadmeShowsWhatKvdumpPrintsForTheSampleGame) {
  const std::string root = "/home/you/KVConverter/examples/sample_game";
  fs = MemoryFileSystem(root);
  const std::filesystem::path sample = std::filesystem::path(KV_SOURCE_DIR) / "examples/sample_game";
  for (const auto& entry : std::filesystem::recursive_directory_iterator(sample)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    fs.AddFile(root + "/" + std::filesystem::relative(entry.path(), sample).generic_string(),
               bytes.str());
  }
  ASSERT_EQ(0, RunConversion(fs).status);

  std::ifstream readme(std::string(KV_SOURCE_DIR) + "/README.md");
  std::string line, command, expected;
  int shown = 0;
  while (std::getline(readme, line)) {
    if (command.empty() && (line.rfind("$ kvdump ", 0) == 0 || line.rfind("$ iconv ", 0) == 0)) {
      command = line.substr(2);
      expected.clear();
    } else if (!command.empty() && line == "```") {
      const std::string iconv = "iconv -f CP932 ";
      if (command.rfind(iconv, 0) == 0) {
        const auto written = tree.find(command.substr(iconv.size()));
        ASSERT_NE(written, tree.end()) << command;
        EXPECT_EQ(expected, Cp932ToUtf8(written->second)) << command;
      } else {
        EXPECT_EQ(0, Run(command)) << command << "\n" << err;
        EXPECT_EQ(expected, out) << command;
      }
      command.clear();
      ++shown;
    } else if (!command.empty()) {
      expected += line + "\n";
    }
  }
  EXPECT_GE(shown, 5);
}

}  // namespace
}  // namespace kv::kvdump
