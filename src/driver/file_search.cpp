#include "driver/file_search.h"

#include <algorithm>
#include <set>

#include "context/kc_system.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "source/source_loader.h"

namespace kv {
namespace {

constexpr std::string_view kMsgUnlistable = "ディレクトリ \"%s\" を読み込めませんでした\n";
constexpr std::string_view kMsgSpecialFileSkipped =
    "\"%s\" は通常のファイルではないため読み飛ばしました\n";
constexpr std::string_view kMsgDirectorySearchedBefore =
    "ディレクトリ \"%s\" は別の名前で検索済みのため読み飛ばしました\n";
constexpr std::string_view kMsgMainScriptNotRegular =
    "メインスクリプト \"%s\" は通常のファイルではありません\n";

using Registration = bool (*)(KCSystem&, const std::string&);

bool AddMedia(KCSystem& sys, const std::string& path, std::vector<std::string>* list) {
  std::string absolute;
  if (!ResolvePath(sys, path, &absolute)) return false;
  list->push_back(std::move(absolute));
  return true;
}

bool AddImage(KCSystem& sys, const std::string& path) {
  return AddMedia(sys, path, &sys.results.ImageFiles);
}
bool AddAudio(KCSystem& sys, const std::string& path) {
  return AddMedia(sys, path, &sys.results.AudioFiles);
}
bool AddMovie(KCSystem& sys, const std::string& path) {
  return AddMedia(sys, path, &sys.results.MovieFiles);
}

// Whether `path` ends with a dot and `extension` (compared byte for byte).
bool HasExtension(const std::string& path, const std::string& extension) {
  if (path.size() < 4 || path.size() < extension.size() + 1) return false;
  size_t dot = path.size() - extension.size() - 1;
  return path[dot] == '.' && path.compare(dot + 1, std::string::npos, extension) == 0;
}

bool HasAnyExtension(const std::string& path, const std::vector<std::string>& extensions) {
  return std::any_of(extensions.begin(), extensions.end(),
                     [&](const std::string& extension) { return HasExtension(path, extension); });
}

// Registers `path` once for every extension of `extensions` it ends with.
bool MatchExtensions(KCSystem& sys, const std::string& path, Registration add,
                     const std::vector<std::string>& extensions, bool* found) {
  for (const std::string& extension : extensions) {
    if (!HasExtension(path, extension)) continue;
    // Found even when it cannot be registered: the run then tells that its
    // output was not written.
    *found = true;
    if (!add(sys, path)) return false;
  }
  return true;
}

class Walk {
 public:
  Walk(KCSystem& sys, int32_t depth, bool* script_found, const ExtensionLists& extensions,
       uint32_t top_level)
      : sys_(sys), depth_(static_cast<uint32_t>(depth)), script_found_(script_found),
        extensions_(extensions), top_level_(top_level) {}

  bool Search(const std::string& directory, uint32_t level) {
    // A directory already on the current walk (through a symbolic link) is
    // not entered again, so link loops end. Nor is one entered before under
    // another name: links that fan out (two links in each directory to the
    // next) would otherwise make the walk grow with the number of routes
    // through the tree, not with the tree.
    std::string key;
    const bool keyed = sys_.fs.FileKey(directory, &key);
    if (keyed && on_walk_.count(key)) return true;
    if (keyed && !entered_.insert(key).second) {
      const std::string absolute = sys_.fs.AbsolutePath(directory);
      sys_.log.WarningAt({absolute}, kMsgDirectorySearchedBefore, {LogArg::Path(absolute)});
      return true;
    }
    if (keyed) on_walk_.insert(key);
    bool ok = SearchEntries(directory, level);
    if (keyed) on_walk_.erase(key);
    return ok;
  }

 private:
  bool SearchEntries(const std::string& directory, uint32_t level) {
    std::vector<DirectoryEntry> entries;
    if (!sys_.fs.ListDirectory(directory, &entries)) {
      // A search directory that does not exist holds nothing to convert; one
      // that exists but cannot be read would leave its files silently out.
      // Below it, a directory was found when its parent was listed: one that
      // is gone now, or whose path has grown too long for the system with
      // its separator, stops the search as a vanished file does.
      if (!sys_.fs.Exists(directory)) {
        std::string absolute;
        return level == top_level_ || ResolvePath(sys_, directory, &absolute);
      }
      sys_.log.ErrorAt({directory}, kMsgUnlistable, {LogArg::Path(directory)});
      return false;
    }
    bool unused = false;
    for (const DirectoryEntry& entry : entries) {
      if (!entry.system_name.empty()) {
        // Quoted whole, as the system has it; the rest of the tree goes on.
        const std::string system_path = Cp932ToUtf8(directory) + entry.system_name;
        sys_.log.ErrorAt({system_path, 0, 0, true}, kMsgNoCp932Name,
                         {LogArg::Own(system_path)});
        continue;
      }
      std::string path = directory + entry.name;
      if (entry.is_special) {
        if (!SkipSpecialFile(path)) return false;
        continue;
      }
      if (entry.is_directory) {
        if (level + 1 > depth_) continue;
        // A directory that vanished since its parent was listed (or whose
        // path the system cannot handle) is a lost part of the tree, not an
        // empty one: it stops the search like a file that vanished.
        std::string absolute;
        if (!ResolvePath(sys_, path, &absolute)) return false;
        if (!Search(path + sys_.fs.Separator(), level + 1)) return false;
        continue;
      }
      if (!MatchExtensions(sys_, path, kv::AddScript, extensions_.scripts, script_found_) ||
          !MatchExtensions(sys_, path, AddImage, extensions_.images, &unused) ||
          !MatchExtensions(sys_, path, AddAudio, extensions_.audio, &unused) ||
          !MatchExtensions(sys_, path, AddMovie, extensions_.movies, &unused)) {
        return false;
      }
    }
    return true;
  }

  // A FIFO, socket or device with the name of a script or media file is
  // never opened (a FIFO would wait for a writer, a device might never end)
  // and is left out with a warning. As the main script it fails the search.
  bool SkipSpecialFile(const std::string& path) {
    const bool script = HasAnyExtension(path, extensions_.scripts);
    if (!script && !HasAnyExtension(path, extensions_.images) &&
        !HasAnyExtension(path, extensions_.audio) && !HasAnyExtension(path, extensions_.movies)) {
      return true;
    }
    const std::string absolute = sys_.fs.AbsolutePath(path);
    if (script && absolute == MainScriptPath(sys_)) {
      sys_.log.Error(kMsgMainScriptNotRegular, {LogArg::Path(absolute)});
      return false;
    }
    sys_.log.WarningAt({absolute}, kMsgSpecialFileSkipped, {LogArg::Path(absolute)});
    return true;
  }

  KCSystem& sys_;
  uint32_t depth_;  // compared unsigned: -1 means unlimited
  bool* script_found_;
  const ExtensionLists& extensions_;
  std::set<std::string> on_walk_;
  std::set<std::string> entered_;  // every directory entered in this search
  uint32_t top_level_;              // the level of the search directory
};

}  // namespace

bool SearchFiles(KCSystem& sys, const std::string& directory, uint32_t level, int32_t depth,
                 bool* script_found, const ExtensionLists& extensions) {
  Walk walk(sys, depth, script_found, extensions, level);
  return walk.Search(directory, level);
}

}  // namespace kv
