#include "kvdump/kvdump.h"

#include <set>

#include "kvdump/checker.h"
#include "kvdump/decompiler.h"
#include "kvdump/disassembler.h"
#include "kvdump/extractor.h"
#include "platform/lexical_path.h"
#include "platform/version.h"

namespace kv::kvdump {
namespace {

constexpr std::string_view kUsage =
    "Usage: kvdump [-d [--postfix]] FILE...\n"
    "       kvdump --check FILE...\n"
    "       kvdump -x DIR [--force] ARCHIVE...\n"
    "       kvdump --source DIR [--force] SCRIPT_OBJECT\n"
    "       kvdump --raw OUT FILE\n";

constexpr std::string_view kHelp =
    "Inspects the object files written by KVConverter: the script object\n"
    "(script.kvo) and the media archives (image.kvo, audio.kvo, movie.kvo).\n"
    "\n"
    "Without an option, prints the header of each FILE: the scripts with the\n"
    "offset and length of their code, the labels and functions with the entry\n"
    "they name, and the engine directory; or the files of an archive.\n"
    "\n"
    "  -d, --disassemble  also print the code of each script, one command a\n"
    "                     line after its entry index; jumps show their target\n"
    "  --postfix          with -d: parameters as their stored postfix items\n"
    "  --check            validate the structure of each FILE; print the first\n"
    "                     problem with its offset\n"
    "  -x, --extract DIR  write the files of each ARCHIVE below DIR, their stored\n"
    "                     paths made relative; nothing is written outside DIR\n"
    "  --source DIR       write the scripts of SCRIPT_OBJECT below DIR, their\n"
    "                     stored paths made relative, as CP932 script text that\n"
    "                     converts back to the same code, labels and functions\n"
    "                     (with -xd at the place of the engine directory in DIR)\n"
    "  --force            with -x or --source: replace files that exist\n"
    "  --raw OUT FILE     write the unscrambled image of FILE to OUT\n"
    "  -h, --help         print this help\n"
    "  --version          print the version\n"
    "\n"
    "-x and --source write nothing for a FILE that --check rejects, and refuse\n"
    "names that Windows would not store as given: streams (':'), devices (CON,\n"
    "NUL.png, COM1, ...), and trailing dots or spaces.\n"
    "\n"
    "Offsets count bytes of the unscrambled image (what --raw writes) unless a\n"
    "message says otherwise. Script text is printed as UTF-8 under a UTF-8\n"
    "locale and as CP932 otherwise; unprintable bytes appear as \\xNN.\n"
    "\n"
    "Exit status: 0 when every file is sound, 1 when a file is unreadable or\n"
    "malformed or an action failed, 2 for a usage error.\n";

enum class Mode { kList, kCheck, kExtract, kSource, kRaw };

struct Options {
  Mode mode = Mode::kList;
  bool disassemble = false;
  bool postfix = false;
  bool force = false;
  std::string directory;  // -x, --source
  std::string raw_output;
  std::vector<std::string> files;
};

constexpr char kChooseOne[] = "choose one of --check, -x, --source and --raw";

std::string Where(const Problem& problem) {
  return "offset " + std::to_string(problem.offset) +
         (problem.in_stored_file ? " of the file" : " of the unscrambled image");
}

// Removes what killed runs of kvdump or the converter left in `directory`
// (empty, or ending with a separator), as the converter does beside its
// outputs, and says so on standard error.
void RemoveLeftovers(Environment& env, const std::string& directory) {
  std::vector<std::string> removed;
  env.fs.RemoveLeftoverTemporaryFiles(directory, &removed);
  for (const std::string& path : removed) {
    env.err("kvdump: removed \"" + PathText(path) +
            "\", a temporary file that an interrupted run left\n");
  }
}

// The writer of -x and --source, which first removes the leftovers of killed
// runs from each directory that it writes a file into, once per directory.
class CleaningTreeWriter : public TreeWriter {
 public:
  CleaningTreeWriter(Environment& env, std::unique_ptr<TreeWriter> writer, std::string root)
      : env_(env), writer_(std::move(writer)), root_(std::move(root)) {
    if (!EndsWithSeparator(root_)) root_.push_back(env_.fs.Separator());
  }
  bool WriteFile(const std::vector<std::string>& components, std::string_view contents,
                 bool overwrite, std::string* error) override {
    std::string directory = root_;
    for (size_t i = 0; i + 1 < components.size(); ++i) {
      directory += components[i];
      directory.push_back(env_.fs.Separator());
    }
    if (cleaned_.insert(directory).second) RemoveLeftovers(env_, directory);
    return writer_->WriteFile(components, contents, overwrite, error);
  }

 private:
  Environment& env_;
  std::unique_ptr<TreeWriter> writer_;
  std::string root_;
  std::set<std::string> cleaned_;
};

class Runner {
 public:
  explicit Runner(Environment& env) : env_(env) {}

  int UsageError(const std::string& message) {
    env_.err("kvdump: " + message + "\n");
    env_.err(kUsage);
    env_.err("Try 'kvdump --help' for more information.\n");
    return 2;
  }

  void Report(const std::string& file, const Problem& problem) {
    env_.err("kvdump: " + PathText(file) + ": " + Where(problem) + ": " + problem.message + "\n");
  }

  // Reads a file whole; false after reporting why it cannot be read.
  bool Read(const std::string& file, std::string* stored) {
    std::string reason;
    if (!env_.fs.ReadFile(file, stored, &reason)) {
      env_.err("kvdump: " + PathText(file) + ": cannot read the file: " + reason + "\n");
      return false;
    }
    return true;
  }

  // Reads and unscrambles a file; false after reporting.
  bool Load(const std::string& file, std::string* image) {
    std::string stored;
    if (!Read(file, &stored)) return false;
    Problem problem;
    if (!Unscramble(stored, image, &problem)) {
      Report(file, problem);
      return false;
    }
    return true;
  }

  // Load, then the header; false after reporting.
  bool LoadHeader(const std::string& file, std::string* image, ObjectHeader* header) {
    if (!Load(file, image)) return false;
    Problem problem;
    if (!ReadHeader(*image, header, &problem)) {
      Report(file, problem);
      return false;
    }
    return true;
  }

  // A file that --check accepts, unscrambled, and its header; false after
  // reporting. What is written from a file stays within what it holds.
  bool LoadSound(const std::string& file, std::string* image, ObjectHeader* header) {
    std::string stored;
    if (!Read(file, &stored)) return false;
    Problem problem;
    if (!CheckStoredObject(stored, &problem) || !Unscramble(stored, image, &problem) ||
        !ReadHeader(*image, header, &problem)) {
      Report(file, problem);
      return false;
    }
    return true;
  }

  bool List(const std::string& file, const Options& options, bool first) {
    std::string image;
    ObjectHeader header;
    if (!LoadHeader(file, &image, &header)) return false;
    Problem problem;
    TextStyle style{env_.utf8, options.postfix};
    if (!first) env_.out("\n");
    HeaderListing(file, image, header, style, env_.out);
    bool ok = !options.disassemble || Disassemble(image, header, style, env_.out, &problem);
    if (ok) ok = CheckImage(image, &problem);
    if (!ok) Report(file, problem);
    return ok;
  }

  bool Check(const std::string& file) {
    std::string stored;
    if (!Read(file, &stored)) return false;
    Problem problem;
    if (!CheckStoredObject(stored, &problem)) {
      Report(file, problem);
      return false;
    }
    env_.out(PathText(file) + ": ok\n");
    return true;
  }

  bool Extract(const std::string& file, const Options& options, TreeWriter& writer) {
    std::string image;
    ObjectHeader header;
    if (!LoadSound(file, &image, &header)) return false;
    if (header.kind == ObjectKind::kScript) {
      env_.err("kvdump: " + PathText(file) +
               ": a script object holds no files to extract (--source writes its scripts)\n");
      return false;
    }
    std::string written, errors;
    const bool ok = ExtractArchive(image, header, writer, options.force, &written, &errors);
    env_.out(written);
    if (!errors.empty()) env_.err(PathText(file) + ": " + errors);
    return ok;
  }

  bool Source(const std::string& file, const Options& options, TreeWriter& writer) {
    std::string image;
    ObjectHeader header;
    if (!LoadSound(file, &image, &header)) return false;
    if (header.kind != ObjectKind::kScript) {
      env_.err("kvdump: " + PathText(file) +
               ": an archive holds no scripts (-x writes its files)\n");
      return false;
    }
    std::vector<ScriptSource> scripts;
    Problem problem;
    if (!DecompileScripts(image, header, &scripts, &problem)) {
      Report(file, problem);
      return false;
    }
    // Every name is checked before anything is written: a tree with a script
    // missing would not convert to the same object.
    std::vector<std::vector<std::string>> places;
    size_t entry = 0;
    std::string why;
    if (!ScriptPlaces(header, env_.fs.Separator(), &places, &entry, &why)) {
      env_.err("kvdump: " + PathText(file) + ": script " + std::to_string(entry) + " \"" +
               PathText(header.entries[entry].name) + "\" not written: " + why + "\n");
      return false;
    }
    bool ok = true;
    for (const ScriptSource& script : scripts) {
      std::string written;
      const std::string_view name = header.entries[script.entry].name;
      if (WriteStored(writer, name, script.text, options.force, &written, &why)) {
        env_.out(written + "\n");
      } else {
        env_.err("kvdump: " + PathText(file) + ": script " + std::to_string(script.entry) +
                 " \"" + PathText(name) + "\" not written: " + why + "\n");
        ok = false;
      }
    }
    return ok;
  }

  bool Raw(const Options& options) {
    std::string image;
    if (!Load(options.files[0], &image)) return false;
    RemoveLeftovers(env_, std::string(DirectoryPart(options.raw_output, env_.fs.Separator())));
    std::string reason;
    if (!WriteWholeFile(env_.fs, options.raw_output, image, &reason)) {
      env_.err("kvdump: " + PathText(options.raw_output) + ": cannot write the file: " + reason +
               "\n");
      return false;
    }
    return true;
  }

  int Run(const std::vector<std::string>& args) {
    Options options;
    bool options_done = false;
    bool mode_set = false;
    auto set_mode = [&](Mode mode) {
      if (mode_set) return false;
      options.mode = mode;
      mode_set = true;
      return true;
    };
    // Moves *i to the value of the option at *i. --force may stand anywhere,
    // even between an option and its value (-x --force DIR): it is never
    // taken for the value. False when no value follows.
    auto take_value = [&](size_t* i) {
      while (*i + 1 < args.size() && !options_done && args[*i + 1] == "--force") {
        options.force = true;
        ++*i;
      }
      if (*i + 1 >= args.size()) return false;
      ++*i;
      return true;
    };
    for (size_t i = 1; i < args.size(); ++i) {
      const std::string& a = args[i];
      if (options_done || a.empty() || a[0] != '-' || a == "-") {
        options.files.push_back(a);
      } else if (a == "--") {
        options_done = true;
      } else if (a == "-h" || a == "--help") {
        env_.out(kUsage);
        env_.out("\n");
        env_.out(kHelp);
        return 0;
      } else if (a == "--version") {
        env_.out(std::string("kvdump ") + kVersion + "\n");
        return 0;
      } else if (a == "-d" || a == "--disassemble") {
        options.disassemble = true;
      } else if (a == "--postfix") {
        options.postfix = true;
      } else if (a == "--force") {
        options.force = true;
      } else if (a == "--check") {
        if (!set_mode(Mode::kCheck)) return UsageError(kChooseOne);
      } else if (a == "-x" || a == "--extract" || a.rfind("--extract=", 0) == 0) {
        if (!set_mode(Mode::kExtract)) return UsageError(kChooseOne);
        if (a[1] == '-' && a.size() > 9) {
          options.directory = a.substr(10);
        } else if (take_value(&i)) {
          options.directory = args[i];
        } else {
          return UsageError("option " + a + " needs a directory");
        }
        if (options.directory.empty()) return UsageError("option " + a + " needs a directory");
      } else if (a == "--source" || a.rfind("--source=", 0) == 0) {
        if (!set_mode(Mode::kSource)) return UsageError(kChooseOne);
        if (a.size() > 8) {
          options.directory = a.substr(9);
        } else if (take_value(&i)) {
          options.directory = args[i];
        } else {
          return UsageError("option " + a + " needs a directory");
        }
        if (options.directory.empty()) return UsageError("option " + a + " needs a directory");
      } else if (a == "--raw") {
        if (!set_mode(Mode::kRaw)) return UsageError(kChooseOne);
        if (!take_value(&i)) return UsageError("option --raw needs an output file");
        options.raw_output = args[i];
      } else {
        return UsageError("unknown option " + a);
      }
    }
    if (options.files.empty()) return UsageError("no object file given");
    if ((options.disassemble || options.postfix) && options.mode != Mode::kList) {
      return UsageError(
          "-d and --postfix print a listing; they do not combine with --check, -x, --source or "
          "--raw");
    }
    if (options.postfix && !options.disassemble) return UsageError("--postfix needs -d");
    if (options.force && options.mode != Mode::kExtract && options.mode != Mode::kSource) {
      return UsageError("--force needs -x or --source");
    }
    if (options.mode == Mode::kSource && options.files.size() != 1) {
      return UsageError("--source takes one script object");
    }
    if (options.mode == Mode::kRaw && options.files.size() != 1) {
      return UsageError("--raw takes one output file and one object file");
    }

    bool ok = true;
    switch (options.mode) {
      case Mode::kList:
        for (size_t i = 0; i < options.files.size(); ++i) {
          ok = List(options.files[i], options, i == 0) && ok;
        }
        break;
      case Mode::kCheck:
        for (const std::string& file : options.files) ok = Check(file) && ok;
        break;
      case Mode::kExtract:
      case Mode::kSource: {
        std::string error;
        std::unique_ptr<TreeWriter> opened = env_.open_tree(options.directory, &error);
        if (opened == nullptr) {
          env_.err("kvdump: " + error + "\n");
          return 1;
        }
        CleaningTreeWriter cleaning(env_, std::move(opened), options.directory);
        TreeWriter* writer = &cleaning;
        for (const std::string& file : options.files) {
          ok = (options.mode == Mode::kExtract ? Extract(file, options, *writer)
                                                : Source(file, options, *writer)) &&
               ok;
        }
        break;
      }
      case Mode::kRaw:
        ok = Raw(options);
        break;
    }
    return ok ? 0 : 1;
  }

 private:
  Environment& env_;
};

}  // namespace

int Run(const std::vector<std::string>& args, Environment& env) {
  SetPathTextUtf8(env.utf8);
  return Runner(env).Run(args);
}

bool InspectStoredObject(std::string_view stored, std::string* text, Problem* problem) {
  std::string image;
  ObjectHeader header;
  if (!Unscramble(stored, &image, problem) || !ReadHeader(image, &header, problem)) return false;
  TextStyle style;
  text->clear();
  auto append = [text](std::string_view piece) { text->append(piece); };
  HeaderListing("object", image, header, style, append);
  if (!Disassemble(image, header, style, append, problem)) return false;
  return CheckStoredObject(stored, problem);
}

}  // namespace kv::kvdump
