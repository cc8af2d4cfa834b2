// Path arithmetic shared by every file system: absolute paths are made by
// joining and folding, never by asking the system (links are not resolved).
#pragma once

#include <string>

namespace kv {

// Lexical absolute path: `name` joined to `cwd` when relative, "." and ".."
// folded, repeated separators collapsed.
std::string LexicalAbsolutePath(const std::string& cwd, const std::string& name);

}  // namespace kv
