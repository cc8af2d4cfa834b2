// A fresh directory below the system's temporary directory, removed with
// everything in it when the test ends, and small file helpers for tests that
// work on the real file system.
#pragma once

#include <string>

namespace kv {

class TempDirectory {
 public:
  TempDirectory();
  ~TempDirectory();
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;

  // The directory's absolute path, in the system's form, without a trailing
  // separator.
  const std::string& path() const { return path_; }
  // `name` below the directory, its '/' turned into the system's separator.
  std::string operator/(const std::string& name) const;

 private:
  std::string path_;
};

// Paths are UTF-8, on every system.

// Writes a file, creating its directories first.
void WriteTestFile(const std::string& path, const std::string& contents);
// The whole file, or "" when it cannot be read.
std::string ReadTestFile(const std::string& path);
// The number of entries of a directory.
size_t CountEntries(const std::string& directory);
// True when a file or directory of that name exists.
bool TestFileExists(const std::string& path);

}  // namespace kv
