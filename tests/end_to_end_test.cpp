// End-to-end runs of the KVConverter program over small game trees on disk.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "output/scramble.h"
#include "platform/coding.h"
#include "test_support/scramble_reference.h"

namespace {

class GameDirectory {
 public:
  GameDirectory() {
    char pattern[] = "/tmp/kv-e2e-XXXXXX";
    root_ = mkdtemp(pattern);
  }
  ~GameDirectory() {
    std::system(("chmod -R u+rwx '" + root_ + "'; rm -rf '" + root_ + "'").c_str());
  }

  const std::string& root() const { return root_; }

  void Write(const std::string& name, const std::string& contents) {
    std::string path = root_ + "/" + name;
    std::system(("mkdir -p \"$(dirname '" + path + "')\"").c_str());
    std::ofstream(path, std::ios::binary) << contents;
  }

  std::string Read(const std::string& name) const {
    std::ifstream in(root_ + "/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  bool Exists(const std::string& name) const {
    struct stat st;
    return stat((root_ + "/" + name).c_str(), &st) == 0;
  }

  // Runs a program in the game directory; returns its exit status and stores
  // what it printed on standard output.
  int RunProgram(const std::string& program, const std::string& args, std::string* console,
                 const std::string& locale = "C.UTF-8", const std::string& env = "") {
    std::string out = "/tmp/kv-e2e-console-" + std::to_string(getpid());
    std::string command = "cd '" + root_ + "' && env LC_ALL=" + locale + " " + env + " '" +
                          program + "' " + args + " < /dev/null > '" + out + "'";
    int status = std::system(command.c_str());
    std::ifstream in(out, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    *console = s.str();
    unlink(out.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Runs the converter; every object file it writes must pass kvdump --check.
  int Run(const std::string& args, std::string* console, const std::string& locale = "C.UTF-8",
          const std::string& env = "SOURCE_DATE_EPOCH=1700000000") {
    const std::map<std::string, std::string> before = Objects();
    const int status = RunProgram(KV_CONVERTER_PATH, args, console, locale, env);
    for (const auto& [name, contents] : Objects()) {
      auto old = before.find(name);
      if (old != before.end() && old->second == contents) continue;
      std::string report;
      EXPECT_EQ(0, RunProgram(KV_KVDUMP_PATH, "--check '" + name + "'", &report))
          << name << " written by KVConverter " << args;
    }
    return status;
  }

 private:
  // The object files in the game directory, by name.
  std::map<std::string, std::string> Objects() const {
    std::map<std::string, std::string> objects;
    for (const auto& entry : std::filesystem::directory_iterator(root_)) {
      if (entry.path().extension() == ".kvo" && entry.is_regular_file()) {
        objects[entry.path().filename()] = Read(entry.path().filename());
      }
    }
    return objects;
  }

  std::string root_;
};

std::string Unscrambled(const std::string& stored) {
  std::string contents;
  EXPECT_TRUE(kv::UnscrambleBytes(stored, &contents));
  return contents;
}

TEST(EndToEnd, ConvertsAGameAndReportsSuccessInUtf8) {
  GameDirectory game;
  game.Write("main.txt", "window_size 640, 480;\ncreate_window;\ntext \"hello\";\n");
  game.Write("img/bg.png", "PNGDATA");
  game.Write("se/click.wav", "");
  game.Write("mv/op.avi", std::string(300, 'm'));
  std::string console;
  EXPECT_EQ(0, game.Run("", &console));
  EXPECT_NE(std::string::npos, console.find("\n結果 : 成功 / エラー 0件 / 警告 0件\n"));
  EXPECT_NE(std::string::npos, console.find(game.root() + "/main.txt をコンバート中...\n"));
  EXPECT_EQ(std::string::npos, console.find("Enter")) << "no prompt when input is no terminal";
  std::string image = Unscrambled(game.Read("image.kvo"));
  EXPECT_EQ("KVI", image.substr(0, 3));
  EXPECT_EQ(std::string("PNGDATA") + '\0', image.substr(image.size() - 8));
  std::string movie = Unscrambled(game.Read("movie.kvo"));
  EXPECT_EQ(std::string(300, 'm') + '\0', movie.substr(movie.size() - 301));
  EXPECT_EQ("KVS", Unscrambled(game.Read("script.kvo")).substr(0, 3));
}

TEST(EndToEnd, CLocalePrintsTheExactCp932Bytes) {
  GameDirectory game;
  game.Write("main.txt", "create_window;\nx = (1;\n");
  std::string console;
  EXPECT_EQ(1, game.Run("", &console, "C"));
  // "エラー : <path> 2 行目 ) がありません\n" in CP932.
  EXPECT_NE(std::string::npos,
            console.find("\x83\x47\x83\x89\x81\x5B : " + game.root() +
                         "/main.txt 2 \x8D\x73\x96\xDA ) \x82\xAA\x82\xA0\x82\xE8\x82\xDC"
                         "\x82\xB9\x82\xF1\n"));
  // "\n結果 : 失敗 / エラー 1件 / 警告 0件\n"
  EXPECT_NE(std::string::npos, console.find("\n\x8C\x8B\x89\xCA : \x8E\xB8\x94\x73 / "
                                            "\x83\x47\x83\x89\x81\x5B 1\x8C\x8F / "
                                            "\x8C\x78\x8D\x90 0\x8C\x8F\n"));
  EXPECT_FALSE(game.Exists("script.kvo")) << "no script object after an error";
  // "エラーがあるため \"script.kvo\" は更新されていません\n"
  EXPECT_NE(std::string::npos, console.find("\x83\x47\x83\x89\x81\x5B\x82\xAA\x82\xA0\x82\xE9"
                                            "\x82\xBD\x82\xDF \"script.kvo\" \x82\xCD\x8D\x58\x90"
                                            "\x56\x82\xB3\x82\xEA\x82\xC4\x82\xA2\x82\xDC\x82\xB9"
                                            "\x82\xF1\n\n\x8C\x8B\x89\xCA"));
}

TEST(EndToEnd, SourceDateEpochMakesOutputsReproducible) {
  GameDirectory game;
  game.Write("main.txt", "create_window;\n");
  game.Write("a.png", std::string(1000, 'a'));
  std::string console;
  ASSERT_EQ(0, game.Run("", &console));
  std::string first = game.Read("image.kvo") + game.Read("script.kvo");
  ASSERT_EQ(0, game.Run("", &console));
  EXPECT_EQ(first, game.Read("image.kvo") + game.Read("script.kvo"));
  ASSERT_EQ(0, game.Run("", &console, "C.UTF-8", "SOURCE_DATE_EPOCH=1700000099"));
  EXPECT_NE(first, game.Read("image.kvo") + game.Read("script.kvo"));
}

TEST(EndToEnd, LinkLoopsOddNamesAndPercentSignsNeitherHangNorCrash) {
  GameDirectory game;
  game.Write("100%s/a.png", "x");
  game.Write("raw/\xFF\xFE.png", "y");
  ASSERT_EQ(0, symlink(game.root().c_str(), (game.root() + "/100%s/loop").c_str()));
  std::string console;
  EXPECT_EQ(0, game.Run("-s", &console));
  EXPECT_NE(std::string::npos, console.find(game.root() + "/100%s/a.png をコンバート中...\n"));
  EXPECT_NE(std::string::npos,
            console.find(game.root() + "/raw/\xFF\xFE.png をコンバート中...\n"));
  std::string image = Unscrambled(game.Read("image.kvo"));
  EXPECT_EQ(2, image[7]) << "each file once, although the loop leads back to the top";
}

TEST(EndToEnd, OutputThatCannotBeWrittenLeavesTheOldFileAndFails) {
  GameDirectory game;
  game.Write("a.png", "x");
  game.Write("b.wav", "y");
  game.Write("audio.kvo", "old archive");
  std::string console;
  EXPECT_EQ(1, game.Run("-io missing/image.kvo", &console));
  EXPECT_NE(std::string::npos,
            console.find("内部エラー : KCFile::FileClose(2) ファイルへの書き込みに失敗\n"
                         "内部エラー : GenImgAdoObject(6) オブジェクトの出力に失敗\n"
                         "\"missing/image.kvo\" に書き込めませんでした: No such file or directory\n"
                         "イメージファイルコンバート 終了!!\n"));
  EXPECT_EQ("old archive", game.Read("audio.kvo")) << "the kinds after a failure are not written";
  EXPECT_EQ(std::string::npos, console.find("オーディオ"));
}

TEST(EndToEnd, ReadOnlyOutputIsNotReplaced) {
  GameDirectory game;
  game.Write("main.txt", "create_window;\n");
  game.Write("script.kvo", "old object");
  chmod((game.root() + "/script.kvo").c_str(), 0444);
  std::string console;
  EXPECT_EQ(1, game.Run("", &console));
  EXPECT_NE(std::string::npos,
            console.find("内部エラー : KCFile::FileClose(2) ファイルへの書き込みに失敗\n"
                         "\"script.kvo\" に書き込めませんでした: Permission denied\n"
                         "エラーがあるため \"script.kvo\" は更新されていません\n"));
  EXPECT_EQ("old object", game.Read("script.kvo"));
}

// Size of the first temporary file beside `name` in `dir`, or -1.
long long TemporarySize(const std::string& dir, const std::string& name, std::string* path) {
  long long size = -1;
  DIR* d = opendir(dir.c_str());
  while (dirent* e = readdir(d)) {
    if (std::string(e->d_name).rfind(name + ".tmp-", 0) != 0) continue;
    struct stat st;
    *path = dir + "/" + e->d_name;
    if (stat(path->c_str(), &st) == 0) size = st.st_size;
  }
  closedir(d);
  return size;
}

TEST(EndToEnd, InterruptedRunRemovesItsTemporaryFileAndKeepsTheOldOutput) {
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    GameDirectory game;
    game.Write("a.avi", std::string(3 << 20, 'a'));
    game.Write("movie.kvo", "old archive");
    const std::string fifo = game.root() + "/b.avi";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_DFL);
      int null = open("/dev/null", O_RDWR);
      dup2(null, 0);
      dup2(null, 1);
      if (chdir(game.root().c_str()) == 0) execl(KV_CONVERTER_PATH, "KVConverter", "-s", nullptr);
      _exit(127);
    }
    // The movie b.avi is a pipe. The converter opens it once for its size
    // and once, after a.avi has been copied into the temporary archive, to
    // copy it; that copy then waits for data that never comes.
    auto open_writer = [&] {
      for (;;) {
        int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0 || waitpid(pid, nullptr, WNOHANG) != 0) return fd;
        usleep(1000);
      }
    };
    int writer = open_writer();
    ASSERT_GE(writer, 0);
    close(writer);
    writer = open_writer();
    ASSERT_GE(writer, 0);
    std::string temporary;
    while (TemporarySize(game.root(), "movie.kvo", &temporary) < (3 << 20)) {
      ASSERT_EQ(0, waitpid(pid, nullptr, WNOHANG)) << "the converter ended before the copy";
      usleep(1000);
    }
    kill(pid, signal_number);
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    close(writer);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number)
        << "ends as the signal would have ended it";
    EXPECT_FALSE(game.Exists(temporary.substr(game.root().size() + 1)));
    EXPECT_EQ("old archive", game.Read("movie.kvo"));
  }
}

TEST(EndToEnd, AnUnreadableDirectoryFailsTheRun) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not restrict root";
  GameDirectory game;
  game.Write("locked/a.png", "x");
  chmod((game.root() + "/locked").c_str(), 0);
  std::string console;
  EXPECT_EQ(1, game.Run("", &console));
  EXPECT_NE(console.find("エラー : ディレクトリ \"" + game.root() + "/locked/\" を読み込めませんでした\n"),
            std::string::npos)
      << console;
  EXPECT_FALSE(game.Exists("image.kvo"));
}

TEST(EndToEnd, KvdumpExtractsAnArchiveAndNeverWritesOutsideItsDirectory) {
  GameDirectory game;
  game.Write("a.png", "first");
  game.Write("sub/b.png", "second");
  std::string console;
  ASSERT_EQ(0, game.Run("-s -a -m", &console));
  ASSERT_EQ(0, game.RunProgram(KV_KVDUMP_PATH, "-x out image.kvo", &console));
  EXPECT_EQ("first", game.Read("out" + game.root() + "/a.png"));
  EXPECT_EQ("second", game.Read("out" + game.root() + "/sub/b.png"));
  EXPECT_EQ(1, game.RunProgram(KV_KVDUMP_PATH, "-x out image.kvo", &console))
      << "existing files are kept";
  game.Write("a.png", "changed");
  ASSERT_EQ(0, game.Run("-s -a -m", &console));
  ASSERT_EQ(0, game.RunProgram(KV_KVDUMP_PATH, "--extract out --force image.kvo", &console));
  EXPECT_EQ("changed", game.Read("out" + game.root() + "/a.png"));

  // A hostile archive: a name that climbs out, and a link planted inside the
  // directory that leads out of it.
  const std::string names[] = {"/../../escaped", "/link/escaped"};
  uint32_t header = 11;
  for (const std::string& n : names) header += 12 + static_cast<uint32_t>(n.size());
  std::string image = "KVI";
  kv::PutFixed32(&image, header);
  kv::PutFixed32(&image, 2);
  for (uint32_t i = 0; i < 2; ++i) {
    kv::PutFixed32(&image, static_cast<uint32_t>(names[i].size()));
    image += names[i];
    kv::PutFixed32(&image, header + 2 * i);
    kv::PutFixed32(&image, 2);
  }
  image += std::string("x\0y\0", 4);
  game.Write("evil.kvo", kv::ScrambleBytes(image, {5, 5}));
  ASSERT_EQ(0, mkdir((game.root() + "/outside").c_str(), 0777));
  ASSERT_EQ(0, mkdir((game.root() + "/jail").c_str(), 0777));
  ASSERT_EQ(0, symlink((game.root() + "/outside").c_str(), (game.root() + "/jail/link").c_str()));
  EXPECT_EQ(1, game.RunProgram(KV_KVDUMP_PATH, "-x jail --force evil.kvo", &console));
  EXPECT_FALSE(game.Exists("outside/escaped"));
  EXPECT_FALSE(game.Exists("escaped"));
  EXPECT_FALSE(game.Exists("../escaped"));
}

}  // namespace
