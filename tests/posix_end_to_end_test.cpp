// End-to-end runs that need POSIX links, byte names, permissions and signals.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "game_directory.h"
#include "platform/coding.h"
#include "platform/file_system.h"
#include "platform/process.h"
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

// The name of a temporary file of the program in `dir`, or "".
std::string TemporaryFile(const std::string& dir) {
  std::string found;
  DIR* d = opendir(dir.c_str());
  uint32_t process_id = 0;
  while (dirent* e = readdir(d)) {
    if (ParseTemporaryFileName(e->d_name, &process_id)) found = e->d_name;
  }
  closedir(d);
  return found;
}

// Starts the converter over `game` and stops it (SIGSTOP) while its
// temporary movie archive, whose name goes to *temporary, is being written:
// a.avi is large enough for that to take a while, and a run that ends before
// it is seen is started again. Its standard output goes to the file "log".
// Returns the stopped process, or -1.
pid_t StopWhileWritingTheMovies(GameDirectory& game, std::string* temporary) {
  const std::string converter = ExecutableDirectory() + KV_CONVERTER_NAME;
  game.Write("a.avi", std::string(16 << 20, 'a'));
  game.Write("b.avi", "b");
  const std::string log = game.Path("log");
  for (int attempt = 0; attempt < 20; ++attempt) {
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
      for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_DFL);
      int null = open("/dev/null", O_RDWR);
      dup2(null, 0);
      dup2(open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
      setenv("LC_ALL", "C.UTF-8", 1);
      if (chdir(game.root().c_str()) == 0) execl(converter.c_str(), "KVConverter", "-s", nullptr);
      _exit(127);
    }
    int status = 0;
    bool ended = false;
    while (TemporaryFile(game.root()).empty() && !ended) ended = waitpid(pid, &status, WNOHANG) == pid;
    if (!ended) {
      kill(pid, SIGSTOP);
      ended = waitpid(pid, &status, WUNTRACED) != pid || !WIFSTOPPED(status);
    }
    *temporary = TemporaryFile(game.root());
    if (!ended && !temporary->empty()) return pid;
    if (!ended) {
      kill(pid, SIGKILL);
      kill(pid, SIGCONT);
      waitpid(pid, &status, 0);
    }
    game.Write("movie.kvo", "old archive");
  }
  return -1;
}

TEST(EndToEnd, InterruptedRunRemovesItsTemporaryFileAndKeepsTheOldOutput) {
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    GameDirectory game;
    game.Write("movie.kvo", "old archive");
    std::string temporary;
    const pid_t pid = StopWhileWritingTheMovies(game, &temporary);
    ASSERT_GT(pid, 0) << "every run ended before its temporary file was seen";
    // Delivered when the run goes on.
    kill(pid, signal_number);
    kill(pid, SIGCONT);
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number)
        << "ends as the signal would have ended it";
    EXPECT_FALSE(game.Exists(temporary));
    EXPECT_EQ("old archive", game.Read("movie.kvo"));
    // What was printed before the signal reached the log, and the log says
    // why it ends there.
    EXPECT_EQ("\nムービーファイルコンバート 開始!!\n" + game.Path("a.avi") + " をコンバート中...\n" +
                  game.Path("b.avi") + " をコンバート中...\n中断しました\n",
              game.Read("log"));
  }
}

TEST(EndToEnd, TheNextRunRemovesWhatAKilledRunLeft) {
  GameDirectory game;
  game.Write("movie.kvo", "old archive");
  std::string leftover;
  const pid_t pid = StopWhileWritingTheMovies(game, &leftover);
  ASSERT_GT(pid, 0) << "every run ended before its temporary file was seen";
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  ASSERT_TRUE(game.Exists(leftover));
  // Another run's file, a link, and a file in a folder that no output goes
  // to stay.
  const std::string live = TemporaryFileName(static_cast<uint32_t>(getpid()), 7);
  const std::string link = TemporaryFileName(2147483644, 8);
  game.Write(live, "writing");
  ASSERT_EQ(0, symlink("a.avi", game.Path(link).c_str()));
  game.Write("sub/" + leftover, "elsewhere");
  std::string console;
  EXPECT_EQ(0, game.Run("-s", &console));
  EXPECT_EQ("前回の中断で残った一時ファイル \"" + leftover + "\" を削除しました\n",
            console.substr(0, console.find('\n') + 1));
  EXPECT_FALSE(game.Exists(leftover));
  EXPECT_TRUE(game.Exists(live));
  EXPECT_TRUE(game.Exists(link));
  EXPECT_TRUE(game.Exists("sub/" + leftover));
  EXPECT_NE("old archive", game.Read("movie.kvo"));
}

TEST(EndToEnd, FifosSocketsAndDevicesAreSkippedNeverWaitedForOrRead) {
  GameDirectory game;
  game.Write("main.txt", "create_window;\n");
  game.Write("img/bg.png", "png");
  ASSERT_EQ(0, mkfifo(game.Path("img/wait.png").c_str(), 0600));
  ASSERT_EQ(0, mkfifo(game.Path("scene.txt").c_str(), 0600));
  ASSERT_EQ(0, symlink("/dev/zero", game.Path("zero.txt").c_str()));
  const int listening = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socket_path = game.Path("sock.wav");
  ASSERT_LT(socket_path.size(), sizeof address.sun_path);
  socket_path.copy(address.sun_path, socket_path.size());
  ASSERT_EQ(0, bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address));
  const std::string skipped = " は通常のファイルではないため読み飛ばしました\n";
  const std::string warnings = "警告 : \"" + game.Path("img/wait.png") + "\"" + skipped +
                               "警告 : \"" + game.Path("scene.txt") + "\"" + skipped +
                               "警告 : \"" + game.Path("sock.wav") + "\"" + skipped +
                               "警告 : \"" + game.Path("zero.txt") + "\"" + skipped;
  for (const char* args : {"", "--check"}) {
    SCOPED_TRACE(args);
    std::string console;
    EXPECT_EQ(0, game.Run(args, &console));
    EXPECT_EQ(warnings, console.substr(0, warnings.size()));
    EXPECT_NE(std::string::npos, console.find("\n結果 : 成功 / エラー 0件 / 警告 4件\n")) << console;
  }
  close(listening);

  // The main script cannot be left out.
  GameDirectory fifo_main;
  ASSERT_EQ(0, mkfifo(fifo_main.Path("main.txt").c_str(), 0600));
  std::string console;
  EXPECT_EQ(1, fifo_main.Run("--check", &console));
  EXPECT_EQ("エラー : メインスクリプト \"" + fifo_main.Path("main.txt") +
                "\" は通常のファイルではありません\n\n結果 : 失敗 / エラー 1件 / 警告 0件\n",
            console);
  EXPECT_EQ(1, game.RunTool(KV_KVDUMP_NAME, "--check scene.txt", &console));
  EXPECT_EQ(1, game.RunTool(KV_KVDUMP_NAME, "--check /dev/zero", &console));
}

TEST(EndToEnd, AnOutputThatIsAnInputIsRefusedBeforeAnythingIsWritten) {
  GameDirectory game;
  game.Write("main.txt", "create_window;\n");
  game.Write("img/bg.png", "png");
  ASSERT_EQ(0, link(game.Path("main.txt").c_str(), game.Path("second.kvo").c_str()));
  ASSERT_EQ(0, symlink("img/bg.png", game.Path("third.kvo").c_str()));
  for (const std::string args : {"-so ./img/../main.txt", "-so second.kvo", "-io third.kvo",
                                  "--check -io img/bg.png"}) {
    SCOPED_TRACE(args);
    std::string console;
    EXPECT_EQ(1, game.Run(args, &console));
    const std::string name = args.substr(args.rfind(' ') + 1);
    EXPECT_NE(std::string::npos,
              console.find("エラー : 出力ファイル \"" + name + "\" は入力ファイルです\n"))
        << console;
    EXPECT_EQ("create_window;\n", game.Read("main.txt"));
    EXPECT_EQ("png", game.Read("img/bg.png"));
    EXPECT_FALSE(game.Exists("script.kvo"));
    EXPECT_FALSE(game.Exists("image.kvo"));
  }
}

TEST(EndToEnd, AFifoOrDeviceNamedAsAnOutputIsRefusedAndStaysAsItWas) {
  GameDirectory game;
  game.Write("main.txt", "create_window;\n");
  ASSERT_EQ(0, mkfifo(game.Path("fifo.kvo").c_str(), 0600));
  // A link to the null device: only looked at, never written.
  ASSERT_EQ(0, symlink("/dev/null", game.Path("null.kvo").c_str()));
  for (const std::string args : {"-so fifo.kvo", "--check -so fifo.kvo", "-so null.kvo"}) {
    SCOPED_TRACE(args);
    std::string console;
    EXPECT_EQ(1, game.Run(args, &console));
    const std::string name = args.substr(args.rfind(' ') + 1);
    EXPECT_NE(std::string::npos,
              console.find("エラー : 出力ファイル \"" + name + "\" は通常のファイルではありません\n"))
        << console;
    EXPECT_EQ("", TemporaryFile(game.root()));
  }
  std::string console;
  ASSERT_EQ(0, game.Run("", &console));
  EXPECT_EQ(1, game.RunTool(KV_KVDUMP_NAME, "--raw fifo.kvo script.kvo", &console));
  EXPECT_EQ(1, game.RunTool(KV_KVDUMP_NAME, "--raw null.kvo script.kvo", &console));
  struct stat st;
  ASSERT_EQ(0, lstat(game.Path("fifo.kvo").c_str(), &st));
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  ASSERT_EQ(0, lstat(game.Path("null.kvo").c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(0, stat("/dev/null", &st));
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST(EndToEnd, LinksThatFanOutEnterEachFolderOnce) {
  // L0 ... L18, each holding a picture and two links, a and b, to the next:
  // 2^18 routes through 19 folders.
  GameDirectory game;
  for (int i = 0; i <= 18; ++i) {
    const std::string folder = "L" + std::to_string(i);
    game.Write(folder + "/p.png", "p");
    if (i == 18) continue;
    for (const char* link : {"/a", "/b"}) {
      const std::string next = "../L" + std::to_string(i + 1);
      ASSERT_EQ(0, symlink(next.c_str(), game.Path(folder + link).c_str()));
    }
  }
  std::string console;
  EXPECT_EQ(0, game.Run("", &console));
  // Each folder is entered by the first route to it, and each later route
  // says that it leads to one entered before.
  EXPECT_NE(std::string::npos,
            console.find("警告 : ディレクトリ \"" + game.Path("L0/b/") +
                         "\" は別の名前で検索済みのため読み飛ばしました\n"))
      << console;
  EXPECT_NE(std::string::npos, console.find("\n結果 : 成功 / エラー 0件 / 警告 36件\n")) << console;
  EXPECT_EQ(19, Unscrambled(game.Read("image.kvo"))[7]);
  EXPECT_EQ(0, game.Run("--check", &console));
}

TEST(EndToEnd, TheFileSizeLimitFailsTheWriteAndLeavesNoTemporaryFile) {
  GameDirectory game;
  game.Write("big.png", std::string(1 << 20, 'b'));
  std::string console;
  ASSERT_EQ(0, game.Run("", &console));
  const std::string archive = game.Read("image.kvo");
  const std::string dir = ExecutableDirectory();
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{dir + KV_CONVERTER_NAME},
        std::vector<std::string>{dir + KV_KVDUMP_NAME, "--raw", "raw.bin", "image.kvo"}}) {
    SCOPED_TRACE(command[0]);
    const std::string log = game.Path("log");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const rlimit limit{256 << 10, 256 << 10};
      setrlimit(RLIMIT_FSIZE, &limit);
      dup2(open("/dev/null", O_RDONLY), 0);
      const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(out, 1);
      dup2(out, 2);
      setenv("LC_ALL", "C.UTF-8", 1);
      std::vector<char*> argv;
      for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
      argv.push_back(nullptr);
      if (chdir(game.root().c_str()) == 0) execv(argv[0], argv.data());
      _exit(127);
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_NE(std::string::npos, game.Read("log").find("File too large")) << game.Read("log");
    EXPECT_EQ("", TemporaryFile(game.root()));
  }
  EXPECT_EQ(archive, game.Read("image.kvo")) << "the older archive stays";
  EXPECT_FALSE(game.Exists("raw.bin"));
}

TEST(EndToEnd, TheSearchNamesTheFileOfItsDiagnosticsInTheGnuForm) {
  GameDirectory game;
  game.Write("main.txt", "create_window;\n");
  game.Write("\xF0\x9F\x98\x80.png", "no CP932 form");
  ASSERT_EQ(0, mkfifo(game.Path("wait.png").c_str(), 0600));
  std::string console;
  EXPECT_EQ(1, game.Run("--diagnostics=gnu", &console));
  EXPECT_NE(std::string::npos,
            console.find(game.Path("\xF0\x9F\x98\x80.png") + ": error: \"" +
                         game.Path("\xF0\x9F\x98\x80.png") + "\" の名前は"))
      << console;
  EXPECT_NE(std::string::npos, console.find(game.Path("wait.png") + ": warning: \"" +
                                            game.Path("wait.png") + "\" は通常のファイルではない"))
      << console;
}

// Makes the folders `names`, each in the one before, below `top`, and a
// script in the last; or removes them again. Their paths pass the system's
// limit, so each step is taken from the folder before.
void DeepTree(const std::string& top, const std::vector<std::string>& names, bool make) {
  std::vector<int> folders{open(top.c_str(), O_RDONLY | O_DIRECTORY)};
  for (const std::string& name : names) {
    if (make) mkdirat(folders.back(), name.c_str(), 0777);
    folders.push_back(openat(folders.back(), name.c_str(), O_RDONLY | O_DIRECTORY));
  }
  if (make) close(openat(folders.back(), "s.txt", O_WRONLY | O_CREAT, 0600));
  if (!make) unlinkat(folders.back(), "s.txt", 0);
  for (size_t i = names.size(); i > 0; --i) {
    close(folders[i]);
    if (!make) unlinkat(folders[i - 1], names[i - 1].c_str(), AT_REMOVEDIR);
  }
  close(folders[0]);
}

TEST(EndToEnd, AScriptBelowAPathPastTheSystemsLimitFailsTheRun) {
  GameDirectory game;
  game.Write("main.txt", "create_window;\n");
  // The deepest folder's path is 4,095 bytes: it can be looked at, but not
  // with the separator that lists it.
  std::vector<std::string> names;
  size_t left = 4095 - game.root().size();
  for (int i = 16; i > 0; --i) {
    names.push_back(std::string(left / i - 1, 'd'));
    left -= left / i;
  }
  ASSERT_EQ(0u, left);
  DeepTree(game.root(), names, true);
  std::string console;
  EXPECT_EQ(1, game.Run("--check", &console));
  DeepTree(game.root(), names, false);
  EXPECT_NE(std::string::npos, console.find("\" が見つかりませんでした\n")) << console;
  EXPECT_NE(std::string::npos, console.find("\n結果 : 失敗 / エラー 1件 / 警告 0件\n")) << console;
}

// The name of a temporary file of kvdump below `dir` (its own or the output
// layer's), or "".
std::string KvdumpTemporary(const std::string& dir) {
  std::string found;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    uint32_t process_id = 0;
    if (name.find(".kvdump-") != std::string::npos || ParseTemporaryFileName(name, &process_id)) {
      found = entry.path().string();
    }
  }
  return found;
}

TEST(EndToEnd, InterruptedKvdumpRemovesItsTemporaryFiles) {
  const std::string kvdump = ExecutableDirectory() + KV_KVDUMP_NAME;
  GameDirectory game;
  game.Write("mv/big.avi", std::string(32 << 20, 'm'));
  std::string console;
  ASSERT_EQ(0, game.Run("-s -i -a", &console));
  struct Action {
    std::vector<std::string> args;
    std::string watched;  // the directory its temporary files go to
  };
  const Action actions[] = {
      {{"--raw", "out/raw.bin", "movie.kvo"}, game.Path("out")},
      {{"-x", "tree", "movie.kvo"}, game.Path("tree")},
  };
  ASSERT_EQ(0, mkdir(game.Path("out").c_str(), 0777));
  for (const Action& action : actions) {
    SCOPED_TRACE(action.args[0]);
    bool caught = false;
    // The process is stopped while its temporary file exists, then ended
    // by SIGTERM; should it have finished first, the round is repeated.
    for (int round = 0; round < 20 && !caught; ++round) {
      std::filesystem::remove_all(game.Path("tree"));
      std::filesystem::remove(game.Path("out/raw.bin"));
      pid_t pid = fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_DFL);
        int null = open("/dev/null", O_RDWR);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char*> argv{const_cast<char*>("kvdump")};
        for (const std::string& a : action.args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (chdir(game.root().c_str()) == 0) execv(kvdump.c_str(), argv.data());
        _exit(127);
      }
      int status = 0;
      while (waitpid(pid, &status, WNOHANG) == 0) {
        if (!std::filesystem::exists(action.watched) || KvdumpTemporary(action.watched).empty()) {
          continue;
        }
        kill(pid, SIGSTOP);
        ASSERT_EQ(pid, waitpid(pid, &status, WUNTRACED));
        caught = WIFSTOPPED(status) && !KvdumpTemporary(action.watched).empty();
        if (caught) kill(pid, SIGTERM);
        kill(pid, SIGCONT);
        ASSERT_EQ(pid, waitpid(pid, &status, 0));
        break;
      }
      if (!caught) continue;
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
      EXPECT_EQ("", KvdumpTemporary(action.watched));
    }
    EXPECT_TRUE(caught) << "kvdump never stood still with its temporary file";
  }
}

TEST(EndToEnd, KvdumpWritesNamesAsLongAsTheSystemTakesAndRemovesLeftovers) {
  GameDirectory game;
  const std::string script = std::string(246, 's') + ".txt", picture = std::string(251, 'p') + ".png";
  game.Write("main.txt", "create_window;\n");
  game.Write(script, "text \"x\";\n");
  game.Write(picture, "png");
  std::string console;
  ASSERT_EQ(0, game.Run("", &console)) << console;
  // What a killed run left where the files go.
  const std::string leftover = TemporaryFileName(2147483644, 9);
  game.Write("out" + game.root() + "/" + leftover, "left");
  ASSERT_EQ(0, game.RunTool(KV_KVDUMP_NAME, "-x out image.kvo", &console)) << console;
  EXPECT_EQ("png", game.Read("out" + game.root() + "/" + picture));
  EXPECT_FALSE(game.Exists("out" + game.root() + "/" + leftover));
  ASSERT_EQ(0, game.RunTool(KV_KVDUMP_NAME, "--source src script.kvo", &console)) << console;
  EXPECT_EQ("text \"x\";\n", game.Read("src" + game.root() + "/" + script));
  EXPECT_EQ("", KvdumpTemporary(game.root()));
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

// kvls ends when its client's process has gone, although its input stays
// open: the client named by initialize's processId, or by the
// --clientProcessId argument that editors' clients add.
TEST(EndToEnd, KvlsEndsWhenItsClientsProcessHasGone) {
  const std::string kvls = ExecutableDirectory() + KV_KVLS_NAME;
  for (const bool by_initialize : {true, false}) {
    SCOPED_TRACE(by_initialize ? "processId" : "--clientProcessId");
    const pid_t client = fork();
    if (client == 0) {
      usleep(300 * 1000);
      _exit(0);
    }
    ASSERT_GT(client, 0);
    int input[2];
    ASSERT_EQ(0, pipe(input));
    const std::string argument = "--clientProcessId=" + std::to_string(client);
    const pid_t server = fork();
    if (server == 0) {
      const int null_fd = open("/dev/null", O_WRONLY);
      if (dup2(input[0], STDIN_FILENO) < 0 || dup2(null_fd, STDOUT_FILENO) < 0) _exit(127);
      close(input[1]);
      if (by_initialize) {
        execl(kvls.c_str(), kvls.c_str(), "--stdio", static_cast<char*>(nullptr));
      } else {
        execl(kvls.c_str(), kvls.c_str(), "--stdio", argument.c_str(), static_cast<char*>(nullptr));
      }
      _exit(127);
    }
    ASSERT_GT(server, 0);
    close(input[0]);
    if (by_initialize) {
      const std::string body = R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"processId":)" +
                               std::to_string(client) + R"(,"capabilities":{}}})";
      const std::string message = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
      ASSERT_EQ(static_cast<ssize_t>(message.size()), write(input[1], message.data(), message.size()));
    }
    int status = 0;
    ASSERT_EQ(client, waitpid(client, &status, 0));
    // The input stays open all along; the server looks once a second.
    pid_t ended = 0;
    for (int i = 0; i < 100 && ended == 0; ++i) {
      usleep(100 * 1000);
      ended = waitpid(server, &status, WNOHANG);
    }
    if (ended == 0) {
      kill(server, SIGKILL);
      waitpid(server, &status, 0);
    }
    close(input[1]);
    EXPECT_EQ(server, ended) << "still running 10 s after its client ended";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "ends as an exit without shutdown";
  }
}

}  // namespace
}  // namespace kv
