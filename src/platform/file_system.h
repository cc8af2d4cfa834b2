// The thin layer between the converter and the operating system's file system.
// Every directory listing, existence check, absolute path, file read and file
// write of the program goes through a FileSystem, so tests can run the whole
// converter over an in-memory tree and make any call fail on demand.
//
// Paths and names are CP932 on every system, as the scripts name files and
// as the engine reads the stored names. Each real file system converts them
// to and from the system's form at its boundary, in one place: UTF-8 names on
// POSIX (a name that is not UTF-8 is taken as CP932 bytes already, and found
// again under those bytes), the wide functions on Windows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kv {

struct DirectoryEntry {
  std::string name;    // the entry's name in CP932
  bool is_directory;   // a directory, or a symbolic link to one
  // Set when the name has no CP932 form (`name` is then empty): the name as
  // the system gives it, in UTF-8, for the message that names it.
  std::string system_name = {};
};

// Every operation that can fail returns false (or null) and stores the
// system's reason, as the system words it, in `*err` (when `err` is not null).

// A file opened for reading in pieces (media files are streamed, not loaded).
class InputFile {
 public:
  virtual ~InputFile() = default;
  // Size in bytes at the moment the file was opened.
  virtual uint64_t Size() const = 0;
  // Reads up to `n` bytes; stores how many were read (0 at the end of the file).
  virtual bool Read(char* buffer, size_t n, size_t* got, std::string* err) = 0;
};

// An output file written to a temporary file beside its target and renamed
// into place by Commit(), so that a failed or interrupted write leaves any
// older file of that name as it was. The temporary file reaches the disk
// before the rename. Destroying it without a successful Commit() removes the
// temporary file, and so does an interrupting signal (see signals.h).
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  virtual bool Write(const char* data, size_t n, std::string* err) = 0;
  virtual bool Commit(std::string* err) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The separator this file system puts between a directory and a name:
  // '/' on POSIX, '\\' on Windows.
  virtual char Separator() const = 0;

  // The process's current directory, without a trailing separator. False
  // when a name in it has no CP932 form: *path then holds it as the system
  // gives it, in UTF-8.
  virtual bool CurrentDirectory(std::string* path) = 0;

  // Lists `directory` (which ends with a separator): its entries other than
  // "." and "..", in ascending byte order of their CP932 names (those without
  // one first). False when the directory cannot be listed.
  virtual bool ListDirectory(const std::string& directory,
                             std::vector<DirectoryEntry>* entries) = 0;

  // A key that is equal for two paths naming the same directory (device and
  // inode on POSIX), used to avoid walking a directory that is already on the
  // current walk again. False when the directory cannot be examined.
  virtual bool DirectoryKey(const std::string& directory, std::string* key) = 0;

  // True when a file or directory of this name exists.
  virtual bool Exists(const std::string& path) = 0;

  // The absolute form of `path`, made lexically: relative paths are joined to
  // the current directory, "." and ".." are folded, links are not resolved.
  virtual std::string AbsolutePath(const std::string& path) = 0;

  // Reads a whole file. False when it cannot be opened or read.
  virtual bool ReadFile(const std::string& path, std::string* contents, std::string* err) = 0;

  // Opens a file for reading in pieces; null when it cannot be opened.
  virtual std::unique_ptr<InputFile> OpenInput(const std::string& path, std::string* err) = 0;

  // Starts writing `path` (see OutputFile); null when the temporary file
  // cannot be created, or when `path` is a file that its owner made
  // read-only (the read-only attribute on Windows). A replaced file's
  // permission bits (its attributes on Windows) pass to its successor.
  virtual std::unique_ptr<OutputFile> CreateOutput(const std::string& path, std::string* err) = 0;
};

// The file system of the machine the program runs on, and its separator.
FileSystem& RealFileSystem();
extern const char kNativeSeparator;

// The words of the program's command line in CP932, converted as names are
// (on Windows from the wide command line, so that words outside the ANSI code
// page arrive intact). False when a word after the program's name has no
// CP932 form: *unconvertible then holds the first such word in UTF-8.
bool CommandLineWords(int argc, char** argv, std::vector<std::string>* words,
                      std::string* unconvertible);

// Puts entries in the order ListDirectory gives them.
void SortDirectoryEntries(std::vector<DirectoryEntry>* entries);

// Reads the whole of `in` into *contents (its storage reused), including what
// the file has grown by since it was opened. The real file systems' ReadFile.
bool ReadWholeInput(InputFile& in, std::string* contents, std::string* err);

// Writes `contents` to `path` through CreateOutput/Write/Commit.
bool WriteWholeFile(FileSystem& fs, const std::string& path, const std::string& contents,
                    std::string* err);

}  // namespace kv
