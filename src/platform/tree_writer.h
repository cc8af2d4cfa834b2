// Writing files below one directory without ever leaving it: the way to put
// files whose names come from untrusted input onto the disk.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

class TreeWriter {
 public:
  virtual ~TreeWriter() = default;

  // Writes `contents` to the file reached from the root through `components`
  // (plain names in CP932, which the system gets in its own form as every
  // path of the program: never empty, ".", ".." or holding a separator), creating
  // the directories on the way. Symbolic links below the root are never
  // followed, so the file lands inside the root. The file is written beside
  // its place and moved there when complete; an existing file is replaced only
  // when `overwrite` is set. False, with the reason in *error, when the file
  // cannot be written.
  virtual bool WriteFile(const std::vector<std::string>& components, std::string_view contents,
                         bool overwrite, std::string* error) = 0;
};

// A writer below the directory `root` (a CP932 path), which is created when it does not
// exist (its parent must). Null, with the reason in *error, when the root
// cannot be created or opened.
std::unique_ptr<TreeWriter> OpenTreeWriter(const std::string& root, std::string* error);

}  // namespace kv
