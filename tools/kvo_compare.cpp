// Compares the object files that two runs of KVConverter wrote for the same
// game: every script must have the same code, the labels and functions must
// match, and every archive must hold the same files with the same bytes.
//
//   kvo_compare POSIX_DIR WINDOWS_DIR
//   kvo_compare --under PREFIX ORIGINAL_DIR REBUILT_DIR
//
// The first form compares the objects of the POSIX and the Windows build:
// stored paths may differ only as the drive letter and the separator
// explain ("C:\game\main.txt" stands for "/game/main.txt"). The second
// compares objects with those converted again from what kvdump --source and
// -x wrote below a directory: each rebuilt path is PREFIX followed by the
// original path without its leading "/" (or drive letter and "\").
//
// Each directory holds script.kvo, image.kvo, audio.kvo and movie.kvo (the
// second form compares those that the rebuilt directory holds). Prints what
// it compared; exits with 1 at the first difference.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "output/scramble.h"

namespace {

// The POSIX form of a Windows path: the drive letter dropped, '\' made '/'.
std::string PosixForm(std::string path) {
  if (path.size() >= 2 && path[1] == ':') path.erase(0, 2);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

// How the stored paths of one side are read before they are compared.
struct PathForm {
  bool windows = false;     // the Windows build's paths
  std::string under;        // a rebuilt object's: this prefix, then the path
  bool relative = false;    // an original's, as kvdump makes it relative
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

bool Same(const char* what, bool same) {
  if (!same) std::printf("DIFFERENT: %s\n", what);
  return same;
}

}  // namespace

int main(int argc, char** argv) {
  PathForm first_form, second_form;
  int at = 1;
  if (argc == 5 && std::strcmp(argv[1], "--under") == 0) {
    first_form.relative = true;
    second_form.under = argv[2];
    at = 3;
  } else if (argc == 3) {
    second_form.windows = true;
  } else {
    std::fprintf(stderr, "usage: %s POSIX_DIR WINDOWS_DIR\n"
                         "       %s --under PREFIX ORIGINAL_DIR REBUILT_DIR\n", argv[0], argv[0]);
    return 2;
  }
  const std::string posix_dir = std::string(argv[at]) + "/";
  const std::string windows_dir = std::string(argv[at + 1]) + "/";
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
  }
  return 0;
}
