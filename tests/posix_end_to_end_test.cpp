// End-to-end runs that need POSIX links, byte names, permissions and signals.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "game_directory.h"
#include "platform/coding.h"
#include "test_support/conversion_harness.h"
#include "test_support/scramble_reference.h"

namespace kv {
namespace {

TEST(EndToEnd, LinkLoopsOddNamesAndPercentSignsNeitherHangNorCrash) {
  GameDirectory game;
  game.Write("100%s/a.png", "x");
  game.Write("raw/\xFF\xFE.png", "y");
  ASSERT_EQ(0, symlink(game.root().c_str(), (game.root() + "/100%s/loop").c_str()));
  std::string console;
  EXPECT_EQ(0, game.Run("-s", &console));
  EXPECT_NE(std::string::npos, console.find(game.root() + "/100%s/a.png をコンバート中...\n"));
  // Not UTF-8, so taken as CP932, of which it is no character either.
  EXPECT_NE(std::string::npos,
            console.find(game.root() + "/raw/\uFFFD\uFFFD.png をコンバート中...\n"));
  std::string image = Unscrambled(game.Read("image.kvo"));
  EXPECT_EQ(2, image[7]) << "each file once, although the loop leads back to the top";
}

TEST(EndToEnd, NamesThatAreNotUtf8AreCp932AndAreFoundAgain) {
  // A tree copied from a Japanese Windows without converting its names:
  // ソフト/表.png as CP932 bytes.
  const std::string soft = "\x83\x5C\x83\x74\x83\x67", table = "\x95\x5C.png";
  GameDirectory game;
  game.Write("main.txt", "create_window;\nlayer t, \"" + soft + "/" + table + "\";\n");
  game.Write(soft + "/" + table, "table");
  std::string console;
  ASSERT_EQ(0, game.Run("", &console)) << console;
  EXPECT_NE(std::string::npos, console.find(game.root() + "/ソフト/表.png をコンバート中...\n"));
  EXPECT_EQ(std::string("table", 6),
            ScriptCode(Unscrambled(game.Read("image.kvo")), game.root() + "/" + soft + "/" + table));
}

TEST(EndToEnd, AUtf8LocaleCountsByItsNameEvenWhenNotInstalled) {
  GameDirectory game;
  const std::string program = ExecutableDirectory() + KV_CONVERTER_NAME;
  // LC_ALL and LC_CTYPE empty: LANG decides, then the option.
  const std::vector<std::string> environment{"LC_ALL=", "LC_CTYPE=", "LANG=xx_XX.UTF-8"};
  const std::string result_utf8 = "\"" + game.root() +
                                  "/\" 以下にコンバートするファイルが見つかりませんでした\n"
                                  "\n結果 : 成功 / エラー 0件 / 警告 0件\n";
  EXPECT_EQ(result_utf8, RunProgram(program, {}, game.root(), environment).output);
  EXPECT_EQ(Utf8ToCp932(result_utf8),
            RunProgram(program, {"--console-encoding=cp932"}, game.root(), environment).output);
  EXPECT_EQ(result_utf8, RunProgram(program, {"--console-encoding=utf-8"}, game.root(),
                                    {"LC_ALL=C"})
                             .output);
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
  const std::string converter = ExecutableDirectory() + KV_CONVERTER_NAME;
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    GameDirectory game;
    game.Write("a.avi", std::string(3 << 20, 'a'));
    game.Write("movie.kvo", "old archive");
    const std::string fifo = game.root() + "/b.avi";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    const std::string log = game.root() + "/log";
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_DFL);
      int null = open("/dev/null", O_RDWR);
      dup2(null, 0);
      dup2(open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
      setenv("LC_ALL", "C.UTF-8", 1);
      if (chdir(game.root().c_str()) == 0) execl(converter.c_str(), "KVConverter", "-s", nullptr);
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
    // What was printed before the signal reached the log, and the log says
    // why it ends there.
    EXPECT_EQ("\nムービーファイルコンバート 開始!!\n" + game.Path("a.avi") + " をコンバート中...\n" +
                  game.Path("b.avi") + " をコンバート中...\n中断しました\n",
              game.Read("log"));
  }
}

// Runs `program` in `directory` with its standard output going to
// `output` and its standard error to `errors`, under a UTF-8 locale.
int RunRedirected(const std::string& program, std::vector<std::string> args,
                  const std::string& directory, const char* output, const std::string& errors) {
  pid_t pid = fork();
  if (pid == 0) {
    dup2(open("/dev/null", O_RDONLY), 0);
    dup2(open(output, O_WRONLY), 1);
    dup2(open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    setenv("LC_ALL", "C.UTF-8", 1);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (chdir(directory.c_str()) == 0) execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(EndToEnd, OutputLostToAFullDiskFailsTheRun) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  GameDirectory game;
  game.Write("main.txt", "create_window;\n");
  const std::string dir = ExecutableDirectory();
  const std::string errors = game.root() + "/errors";
  EXPECT_EQ(1, RunRedirected(dir + KV_CONVERTER_NAME, {}, game.root(), "/dev/full", errors));
  EXPECT_EQ("標準出力に書き込めませんでした: No space left on device\n", game.Read("errors"));
  ASSERT_TRUE(game.Exists("script.kvo")) << "the conversion itself succeeded";
  EXPECT_EQ(1, RunRedirected(dir + KV_KVDUMP_NAME, {"script.kvo"}, game.root(), "/dev/full",
                             errors));
  EXPECT_EQ("kvdump: cannot write to standard output: No space left on device\n",
            game.Read("errors"));
  EXPECT_EQ(0, RunRedirected(dir + KV_KVDUMP_NAME, {"script.kvo"}, game.root(), "/dev/null",
                             errors));
}

TEST(EndToEnd, AnUnreadableDirectoryFailsTheRun) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not restrict root";
  GameDirectory game;
  game.Write("locked/a.png", "x");
  chmod((game.root() + "/locked").c_str(), 0);
  std::string console;
  EXPECT_EQ(1, game.Run("", &console));
  chmod((game.root() + "/locked").c_str(), 0755);
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
  ASSERT_EQ(0, game.RunTool(KV_KVDUMP_NAME, "-x out image.kvo", &console));
  EXPECT_EQ("first", game.Read("out" + game.root() + "/a.png"));
  EXPECT_EQ("second", game.Read("out" + game.root() + "/sub/b.png"));
  EXPECT_EQ(1, game.RunTool(KV_KVDUMP_NAME, "-x out image.kvo", &console))
      << "existing files are kept";
  game.Write("a.png", "changed");
  ASSERT_EQ(0, game.Run("-s -a -m", &console));
  ASSERT_EQ(0, game.RunTool(KV_KVDUMP_NAME, "--extract out --force image.kvo", &console));
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
  EXPECT_EQ(1, game.RunTool(KV_KVDUMP_NAME, "-x jail --force evil.kvo", &console));
  EXPECT_FALSE(game.Exists("outside/escaped"));
  EXPECT_FALSE(game.Exists("escaped"));
  EXPECT_FALSE(game.Exists("../escaped"));
}

}  // namespace
}  // namespace kv
