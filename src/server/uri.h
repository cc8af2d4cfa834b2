// file:// URIs, as the protocol names documents and folders, and the paths
// of the program (CP932, the system's separator).
#pragma once

#include <string>
#include <string_view>

namespace kv {

// How paths are written: "/game/main.txt", or "C:\game\main.txt" and
// "\\server\share\main.txt".
enum class PathStyle { kPosix, kWindows };

// The style of the system the program runs on.
PathStyle NativePathStyle();

// The path a file URI names, percent-decoded, "." and ".." folded, without a
// trailing separator (but for a root), in CP932. False for another scheme, a
// malformed escape, a host on POSIX ("localhost" is none), a Windows path
// with neither a drive nor a host, or a name that has no CP932 form.
//   file:///home/you/a%20b.txt  ->  /home/you/a b.txt
//   file:///c%3A/game/main.txt  ->  C:\game\main.txt
//   file://server/share/a.txt   ->  \\server\share\a.txt (Windows)
bool UriToPath(std::string_view uri, PathStyle style, std::string* path);

// The file URI of a path, in the form of the examples above (the drive
// letter as the path has it, its colon kept).
std::string PathToUri(std::string_view path, PathStyle style);

}  // namespace kv
