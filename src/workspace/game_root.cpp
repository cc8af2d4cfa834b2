#include "workspace/game_root.h"

#include <deque>
#include <set>

#include "platform/file_system.h"
#include "source/source_loader.h"

namespace kv {
namespace {

// A workspace may be a large tree (a repository with its tools); the search
// looks this far and no further.
constexpr size_t kMaxFoldersSearched = 20000;

std::string AsDirectory(const FileSystem& fs, std::string path) {
  if (!path.empty() && path.back() != fs.Separator()) path += fs.Separator();
  return path;
}

bool HoldsMainScript(FileSystem& fs, const std::string& directory) {
  return fs.Exists(directory + kMainScriptName);
}

// The nearest folder at or below `top` that holds main.txt, or "".
std::string SearchBelow(FileSystem& fs, const std::string& top, size_t* searched) {
  std::deque<std::string> queue = {top};
  std::set<std::string> entered;
  while (!queue.empty() && *searched < kMaxFoldersSearched) {
    const std::string directory = std::move(queue.front());
    queue.pop_front();
    std::string key;
    if (fs.FileKey(directory, &key) && !entered.insert(key).second) continue;
    ++*searched;
    if (HoldsMainScript(fs, directory)) return directory;
    std::vector<DirectoryEntry> entries;
    if (!fs.ListDirectory(directory, &entries)) continue;
    for (const DirectoryEntry& entry : entries) {
      if (!entry.is_directory || entry.name.empty() || entry.name[0] == '.' ||
          entry.name == "node_modules") {
        continue;
      }
      queue.push_back(directory + entry.name + fs.Separator());
    }
  }
  return "";
}

}  // namespace

std::string FindGameDirectory(FileSystem& fs, const std::vector<std::string>& folders,
                              const std::vector<std::string>& game_roots) {
  if (!game_roots.empty()) {
    for (const std::string& root : game_roots) {
      const std::string directory = AsDirectory(fs, root);
      if (HoldsMainScript(fs, directory)) return directory;
    }
    return AsDirectory(fs, game_roots.front());
  }
  size_t searched = 0;
  for (const std::string& folder : folders) {
    if (folder.empty()) continue;
    std::string found = SearchBelow(fs, AsDirectory(fs, folder), &searched);
    if (!found.empty()) return found;
  }
  for (const std::string& folder : folders) {
    if (!folder.empty()) return AsDirectory(fs, folder);
  }
  return "";
}

}  // namespace kv
