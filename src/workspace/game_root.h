// Where the game of a workspace is: the folder that holds main.txt, so that
// an editor opened on a folder above the game (a repository with the game in
// a subfolder) checks the game itself.
#pragma once

#include <string>
#include <vector>

namespace kv {

class FileSystem;

// The game's folder, ending in the separator. When `game_roots` are given
// (absolute paths, as the editor's settings name them) the first that holds
// main.txt is the game, or the first of them when none does. Otherwise the
// game is the nearest folder at or below a workspace folder (the folders in
// order) that holds main.txt: shallower folders first, and at one depth in
// ascending byte order; hidden folders and node_modules are passed by, and
// no folder is entered twice. When none holds it, the first workspace
// folder, where the analysis reports the missing main.txt. "" when there is
// no folder at all.
std::string FindGameDirectory(FileSystem& fs, const std::vector<std::string>& folders,
                              const std::vector<std::string>& game_roots);

}  // namespace kv
