// Compares the object files that two runs of KVConverter wrote for the same
// game: every script must have the same code, the labels and functions must
// match, and every archive must hold the same files with the same bytes.
//
//   kvo_compare POSIX_DIR WINDOWS_DIR [GAME_DIR]
//   kvo_compare --under PREFIX ORIGINAL_DIR REBUILT_DIR
//
// The first form compares the objects of the POSIX and the Windows build:
// stored paths may differ only as the drive letter and the separator
// explain ("C:\game\main.txt" stands for "/game/main.txt"; both are CP932).
// With GAME_DIR, the game folder as the POSIX build was given it, every
// stored path must also lie below that folder, the rest of it being a text
// that the scripts' code holds: the names stored are the bytes the scripts
// name the files with. The second form compares objects with those
// converted again from what kvdump --source and -x wrote below a directory:
// each rebuilt path is PREFIX followed by the original path without its
// leading "/" (or drive letter and "\").
//
// Each directory holds script.kvo, image.kvo, audio.kvo and movie.kvo (the
// second form compares those that the rebuilt directory holds). Prints what
// it compared; exits with 1 at the first difference.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "output/scramble.h"
#include "platform/console.h"
#include "platform/file_system.h"

namespace {

// The POSIX form of a Windows path: the drive letter dropped, '\' made '/'.
// Paths are CP932, whose double-byte characters may end in a '\' byte
// ("ソ" is 83 5C): they are stepped over whole.
std::string PosixForm(std::string path) {
  if (path.size() >= 2 && path[1] == ':') path.erase(0, 2);
  for (size_t i = 0; i < path.size(); ++i) {
    if (kv::IsCp932LeadByte(static_cast<unsigned char>(path[i]))) {
      ++i;
    } else if (path[i] == '\\') {
      path[i] = '/';
    }
  }
  return path;
}

// How the stored paths of one side are read before they are compared.
struct PathForm {
  bool windows = false;   // the Windows build's paths
  std::string under;      // a rebuilt object's: this prefix, then the path
  bool relative = false;  // an original's, as kvdump makes it relative
};

std::string Relative(std::string path) {
  path = PosixForm(std::move(path));
  while (!path.empty() && path[0] == '/') path.erase(0, 1);
  return path;
}

std::string Form(const PathForm& form, const std::string& path) {
  if (form.windows) return PosixForm(path);
  if (form.relative) return Relative(path);
  if (!form.under.empty()) {
    if (path.compare(0, form.under.size(), form.under) != 0) return "(outside) " + path;
    return Relative(path.substr(form.under.size()));
  }
  return path;
}

class Reader {
 public:
  explicit Reader(const std::string& bytes) : bytes_(bytes) {}
  bool U32(uint32_t* v) {
    if (at_ + 4 > bytes_.size()) return false;
    std::memcpy(v, bytes_.data() + at_, 4);  // little-endian, as the format
    at_ += 4;
    return true;
  }
  bool Text(std::string* s) {
    uint32_t n;
    if (!U32(&n) || n > bytes_.size() - at_) return false;
    *s = bytes_.substr(at_, n);
    at_ += n;
    return true;
  }

 private:
  const std::string& bytes_;
  size_t at_ = 11;  // after the mark, the header size and the entry count
};

using Definition = std::tuple<std::string, std::string, uint32_t>;  // name, script, position

struct Object {
  std::string mark;
  std::vector<std::pair<std::string, std::string>> entries;  // path, code or file bytes
  std::vector<Definition> labels, functions;
  std::string engine_directory;
};

bool Load(const std::string& file, const PathForm& form, Object* object) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  std::string image;
  if (!in || !kv::UnscrambleBytes(s.str(), &image) || image.size() < 11) {
    std::fprintf(stderr, "%s: not an object file\n", file.c_str());
    return false;
  }
  auto path = [&form](const std::string& p) { return Form(form, p); };
  object->mark = image.substr(0, 3);
  Reader r(image);
  uint32_t count = 0;
  std::memcpy(&count, image.data() + 7, 4);
  for (uint32_t i = 0; i < count; ++i) {
    std::string name;
    uint32_t offset, length;
    if (!r.Text(&name) || !r.U32(&offset) || !r.U32(&length) || offset > image.size() ||
        length > image.size() - offset) {
      std::fprintf(stderr, "%s: broken header\n", file.c_str());
      return false;
    }
    object->entries.emplace_back(path(name), image.substr(offset, length));
  }
  if (object->mark != "KVS") return true;
  for (std::vector<Definition>* list : {&object->labels, &object->functions}) {
    uint32_t n = 0;
    if (!r.U32(&n)) return false;
    for (uint32_t i = 0; i < n; ++i) {
      std::string name, script;
      uint32_t position;
      if (!r.Text(&name) || !r.Text(&script) || !r.U32(&position)) return false;
      list->emplace_back(name, path(script), position);
    }
  }
  if (!r.Text(&object->engine_directory)) return false;
  object->engine_directory = path(object->engine_directory);
  return true;
}

// The texts of the string items (specifier 02) of compiled code.
void CollectStrings(const std::string& code, std::set<std::string>* strings) {
  size_t at = 0;
  while (at < code.size()) {
    const unsigned char specifier = static_cast<unsigned char>(code[at++]);
    size_t payload = specifier == 0x04 ? 1 : specifier == 0x10 ? 8 : 4;
    if (specifier == 0x02 || specifier == 0x20) {
      uint32_t n = 0;
      if (code.size() - at < 4) return;
      std::memcpy(&n, code.data() + at, 4);
      at += 4;
      if (n > code.size() - at) return;
      if (specifier == 0x02) strings->insert(code.substr(at, n));
      payload = n;
    } else if (specifier != 0x01 && specifier != 0x04 && specifier != 0x08 && specifier != 0x10) {
      return;
    }
    at += payload;
  }
}

// Every stored path lies below `game` and the rest of it is one of `named`.
bool NamedByTheScripts(const std::vector<Object>& objects, const std::string& game) {
  std::set<std::string> named;
  for (const Object& object : objects) {
    if (object.mark != "KVS") continue;
    for (const auto& [path, code] : object.entries) CollectStrings(code, &named);
  }
  size_t count = 0;
  for (const Object& object : objects) {
    for (const auto& [path, contents] : object.entries) {
      if (!path.starts_with(game) || !named.count(path.substr(game.size()))) {
        std::printf("DIFFERENT: %s is not below the game folder as the scripts name it\n",
                    kv::Cp932ToUtf8(path).c_str());
        return false;
      }
      ++count;
    }
  }
  std::printf("%zu names below the game folder, each as the scripts name it\n", count);
  return true;
}

bool Same(const char* what, bool same) {
  if (!same) std::printf("DIFFERENT: %s\n", what);
  return same;
}

}  // namespace

int main(int argc, char** argv) {
  // The game folder is read as the converter reads its words, into CP932.
  std::vector<std::string> args;
  std::string unconvertible;
  PathForm first_form, second_form;
  int at = 1;
  if (argc == 5 && std::strcmp(argv[1], "--under") == 0) {
    first_form.relative = true;
    second_form.under = argv[2];
    at = 3;
  } else if ((argc == 3 || argc == 4) && kv::CommandLineWords(argc, argv, &args, &unconvertible)) {
    second_form.windows = true;
  } else {
    std::fprintf(stderr,
                 "usage: %s POSIX_DIR WINDOWS_DIR [GAME_DIR]\n"
                 "       %s --under PREFIX ORIGINAL_DIR REBUILT_DIR\n",
                 argv[0], argv[0]);
    return 2;
  }
  const std::string posix_dir = std::string(argv[at]) + "/";
  const std::string windows_dir = std::string(argv[at + 1]) + "/";
  std::vector<Object> posix_objects;
  for (const char* name : {"script.kvo", "image.kvo", "audio.kvo", "movie.kvo"}) {
    Object a, b;
    if (!second_form.under.empty() && !std::ifstream(windows_dir + name)) continue;
    if (!Load(posix_dir + name, first_form, &a) || !Load(windows_dir + name, second_form, &b)) {
      return 1;
    }
    bool same = Same("mark", a.mark == b.mark);
    if (a.mark == "KVS") {
      // Scripts are listed in byte order of their paths, which the separator
      // may change, so they are compared by path.
      std::map<std::string, std::string> code_a(a.entries.begin(), a.entries.end());
      std::map<std::string, std::string> code_b(b.entries.begin(), b.entries.end());
      same = Same("scripts and their code", code_a == code_b) &&
             Same("labels", a.labels == b.labels) &&
             Same("functions", a.functions == b.functions) &&
             Same("engine directory", a.engine_directory == b.engine_directory) && same;
      if (same) {
        std::printf("%s: %zu scripts, %zu labels, %zu functions: same\n", name, code_a.size(),
                    a.labels.size(), a.functions.size());
      }
    } else {
      same = Same("files and their bytes", a.entries == b.entries) && same;
      if (same) std::printf("%s: %zu files: same\n", name, a.entries.size());
    }
    if (!same) {
      std::printf("%s differs\n", name);
      return 1;
    }
    posix_objects.push_back(std::move(a));
  }
  if (args.size() == 4) {
    std::string game = args[3];
    if (!game.ends_with('/')) game.push_back('/');
    if (!NamedByTheScripts(posix_objects, game)) return 1;
  }
  return 0;
}
