// An in-memory FileSystem for tests: a tree of files and directories that
// lives in a map, with failures that can be switched on per path.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "platform/file_system.h"

namespace kv {

class MemoryFileSystem : public FileSystem {
 public:
  // Paths are absolute, '/'-separated. Parent directories are created as needed.
  explicit MemoryFileSystem(std::string current_directory = "/game");

  void AddFile(const std::string& path, std::string contents);
  void AddDirectory(const std::string& path);
  void RemoveFile(const std::string& path) {
    files_.erase(path);
    special_files_.erase(path);
    file_keys_.erase(path);
  }
  bool HasFile(const std::string& path) const { return files_.count(path) != 0; }
  const std::string& FileContents(const std::string& path) const { return files_.at(path); }
  // Every file by absolute path.
  const std::map<std::string, std::string>& Files() const { return files_; }
  // A file whose reported size is `size` although it holds no data, to test
  // size limits without allocating the bytes.
  void AddHugeFile(const std::string& path, uint64_t size);
  // A FIFO, socket or device: listed as special, refused when opened.
  void AddSpecialFile(const std::string& path);
  // A second name of the file at `existing` (a hard link): its contents are
  // copied, and both names have the same FileKey.
  void AddHardLink(const std::string& existing, const std::string& link);

  // Failure switches, with the reasons a POSIX system gives.
  std::set<std::string> unreadable;     // ReadFile / OpenInput fail: Permission denied
  std::set<std::string> unwritable;     // CreateOutput fails: Permission denied
  std::set<std::string> unlistable;     // ListDirectory fails
  std::set<std::string> fail_on_write;  // OutputFile::Write fails: No space left on device
  std::set<std::string> fail_on_commit; // OutputFile::Commit (the rename) fails: Invalid cross-device link
  std::set<std::string> fail_on_flush;  // OutputFile::Flush fails: Input/output error
  // Bytes that all outputs together may still write (a disk that fills up);
  // a Write that does not fit fails: No space left on device. Negative: no
  // limit.
  int64_t write_budget = -1;
  // Path -> bytes that can be read before reading it fails: ReadFile fails
  // for a longer file, an InputFile's Read fails once it would pass them
  // (Input/output error).
  std::map<std::string, uint64_t> read_limit;
  // Path -> bytes the file gains (positive, bytes 'g') or loses (negative)
  // as soon as it has been opened: its InputFile reports the size it had.
  std::map<std::string, int64_t> size_change_after_open;
  // Process ids of the runs alive beside this one, whose temporary files
  // RemoveLeftoverTemporaryFiles leaves.
  std::set<uint32_t> live_processes;
  // Called with the absolute path before every ReadFile and OpenInput, and
  // with the listed directory after every successful ListDirectory, so a
  // test can change the tree between the search and the packing.
  std::function<void(const std::string&)> before_read;
  std::function<void(const std::string&)> after_list;
  // Paths whose names the system gives in a form with no CP932 equivalent:
  // such a file or directory is listed with its name as added (taken as
  // UTF-8) in `system_name`, and such a current directory is refused.
  std::set<std::string> without_cp932_form;
  // Number of temporary outputs not yet committed or discarded.
  int open_outputs = 0;

  char Separator() const override { return '/'; }
  bool CurrentDirectory(std::string* path) override {
    *path = cwd_;
    return without_cp932_form.count(cwd_) == 0;
  }
  bool ListDirectory(const std::string& directory, std::vector<DirectoryEntry>* entries) override;
  bool FileKey(const std::string& path, std::string* key) override;
  // A file's contents; a directory's entries.
  bool FileStamp(const std::string& path, std::string* stamp) override;
  bool Exists(const std::string& path) override;
  bool IsSpecialFile(const std::string& path) override {
    return special_files_.count(AbsolutePath(path)) != 0;
  }
  std::string AbsolutePath(const std::string& path) override;
  bool ReadFile(const std::string& path, std::string* contents, std::string* err) override;
  std::unique_ptr<InputFile> OpenInput(const std::string& path, std::string* err) override;
  std::unique_ptr<OutputFile> CreateOutput(const std::string& path, std::string* err) override;
  void RemoveLeftoverTemporaryFiles(const std::string& directory,
                                    std::vector<std::string>* removed) override;

 private:
  friend class MemoryOutputFile;
  std::string cwd_;
  std::map<std::string, std::string> files_;
  std::map<std::string, uint64_t> huge_files_;
  std::set<std::string> special_files_;
  std::map<std::string, std::string> file_keys_;  // hard links: path -> shared key
  std::set<std::string> directories_;
};

}  // namespace kv
