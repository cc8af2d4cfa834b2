// Writes a game tree of scripts for the compile benchmark: a main.txt that
// sets up the window, and many scene scripts of varied, realistic statements
// (message text with Japanese in CP932, layers, sounds, conditions, loops,
// functions, labels, declarations, expressions and comments), and the
// pictures and sounds they name (a few bytes each), unless --no-media asks
// for the game as its authors have it before the art exists.
//
//   make_script_tree DIRECTORY MEBIBYTES [FILES] [--no-media]
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "script_generator.h"

namespace {

bool WriteFile(const std::string& path, const std::string& contents) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(contents.data(), 1, contents.size(), f) == contents.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s DIRECTORY MEBIBYTES [FILES] [--no-media]\n", argv[0]);
    return 2;
  }
  std::string dir = argv[1];
  size_t total = static_cast<size_t>(std::atof(argv[2]) * 1024 * 1024);
  int files = argc > 3 ? std::atoi(argv[3]) : 200;
  const bool media = !(argc > 4 && std::string(argv[4]) == "--no-media");
  if (files < 1) files = 1;
  mkdir(dir.c_str(), 0755);
  mkdir((dir + "/scenes").c_str(), 0755);
  mkdir((dir + "/img").c_str(), 0755);
  mkdir((dir + "/se").c_str(), 0755);
  // Tiny stand-ins for the pictures and sounds the scenes name.
  for (const std::string& name : kv::bench::MediaFiles()) {
    if (media && !WriteFile(dir + "/" + name, name)) return 1;
  }
  std::mt19937 rng(42);
  if (!WriteFile(dir + "/main.txt", kv::bench::MainScript(files))) return 1;
  for (int i = 0; i < files; ++i) {
    kv::bench::SceneWriter writer(rng, i);
    if (!WriteFile(dir + "/scenes/scene" + std::to_string(i) + ".txt", writer.Write(total / files))) {
      return 1;
    }
  }
  return 0;
}
