// Path arithmetic shared by every file system: absolute paths are made by
// joining and folding, never by asking the system (links are not resolved).
#pragma once

#include <string>
#include <string_view>

namespace kv {

// Lexical absolute path: `name` joined to `cwd` when relative, "." and ".."
// folded, repeated separators collapsed. Paths are CP932 and '/' separates
// their parts; '/' is never the second byte of a double-byte character.
std::string LexicalAbsolutePath(const std::string& cwd, const std::string& name);

// True when the CP932 `path` ends with '/' or '\' standing as a character of
// its own, not as the second byte of a double-byte character ("ソ" is 83 5C).
bool EndsWithSeparator(std::string_view path);

// The directory part of the CP932 `path`: up to and including its last '/'
// or `separator` that stands as a character of its own; where there is none,
// a drive ("C:") when `separator` is '\', otherwise empty (the current
// directory).
std::string_view DirectoryPart(std::string_view path, char separator);

}  // namespace kv
