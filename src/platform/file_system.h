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
#include <string_view>
#include <vector>

namespace kv {

struct DirectoryEntry {
  std::string name;    // the entry's name in CP932
  bool is_directory;   // a directory, or a symbolic link to one
  // Set when the name has no CP932 form (`name` is then empty): the name as
  // the system gives it, in UTF-8, for the message that names it.
  std::string system_name = {};
  // Neither a regular file nor a directory: a FIFO, a socket or a device, or
  // a link to one. Such a file is never read: opening a FIFO waits for a
  // writer, and a device may never end.
  bool is_special = false;
};

// Every operation that can fail returns false (or null) and stores the
// system's reason, as the system words it, in `*err` (when `err` is not null).
// Reasons of the program's own are worded the same way:
inline constexpr char kReasonNotRegularFile[] = "Not a regular file";
inline constexpr char kReasonSizeChanged[] = "File changed size while being read";

// A regular file opened for reading in pieces (media files are streamed, not
// loaded). Readers take no more than Size() bytes from it.
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
// temporary file, and so does an interrupting signal (see signals.h). While
// it exists the temporary file is held so that no other run takes it for a
// leftover (see RemoveLeftoverTemporaryFiles).
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  virtual bool Write(const char* data, size_t n, std::string* err) = 0;
  // Makes what has been written so far reach the disk, as Commit() does
  // before the rename, so that a later Commit() has little left to wait for
  // (a writer on a second thread flushes there, and commits on the first).
  // More may be written afterwards.
  virtual bool Flush(std::string* err) {
    (void)err;
    return true;
  }
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

  // A key that is equal for two paths naming the same file or directory,
  // links followed (device and inode on POSIX, volume serial number and file
  // index on Windows): the walk enters no directory twice, and no output
  // replaces an input. False when the path cannot be examined.
  virtual bool FileKey(const std::string& path, std::string* key) = 0;

  // A text that changes whenever the contents of a file, or the entries of
  // a directory, may have changed (its size and time of last change, links
  // followed): what tells a long-running program that something changed
  // outside it. False when the path cannot be examined (or the file system
  // keeps no such stamps).
  virtual bool FileStamp(const std::string& path, std::string* stamp) {
    (void)path;
    (void)stamp;
    return false;
  }

  // True when a file or directory of this name exists.
  virtual bool Exists(const std::string& path) = 0;

  // True when `path` names a FIFO, a socket or a device (links followed):
  // something that exists and is neither a regular file nor a directory. No
  // output replaces one (CreateOutput refuses it).
  virtual bool IsSpecialFile(const std::string& path) {
    (void)path;
    return false;
  }

  // The absolute form of `path`, made lexically: relative paths are joined to
  // the current directory, "." and ".." are folded, links are not resolved.
  virtual std::string AbsolutePath(const std::string& path) = 0;

  // Reads a whole regular file: the size it had when it was opened, and
  // false when it has another by the end (ReadWholeInput). False when it
  // cannot be opened or read.
  virtual bool ReadFile(const std::string& path, std::string* contents, std::string* err) = 0;

  // Opens a regular file for reading in pieces; null when it cannot be
  // opened or is no regular file (links followed). Never waits: a FIFO is
  // refused, not opened until a writer comes.
  virtual std::unique_ptr<InputFile> OpenInput(const std::string& path, std::string* err) = 0;

  // Starts writing `path` (see OutputFile); null when the temporary file
  // cannot be created, when `path` is a file that its owner made read-only
  // (the read-only attribute on Windows), or when it is no regular file: a
  // directory, or a FIFO or device (kReasonNotRegularFile), which a rename
  // would replace by a regular file. A replaced file's
  // permission bits (its attributes on Windows) pass to its successor.
  virtual std::unique_ptr<OutputFile> CreateOutput(const std::string& path, std::string* err) = 0;

  // Removes from `directory` (empty, or ending with a separator) what runs
  // of this program that were killed left there: regular files named as
  // CreateOutput names its temporary files (TemporaryFileName) whose process
  // has ended and which no process holds. Nothing else is touched. Appends
  // the path of each removed file to *removed, in ascending order of names.
  virtual void RemoveLeftoverTemporaryFiles(const std::string& directory,
                                            std::vector<std::string>* removed) = 0;
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

// Reads the whole of `in` into *contents (its storage reused): exactly
// in.Size() bytes. A file that ends sooner or goes on further has changed
// since it was opened: false, kReasonSizeChanged. The file systems' ReadFile.
bool ReadWholeInput(InputFile& in, std::string* contents, std::string* err);

// The name of a temporary output file: ".kvtmp-PID-XXXXXX", PID the writing
// process's id and XXXXXX six letters and digits made from `unique`. It
// stands beside its target, so the rename into place stays within one
// directory, and is short, so it fits wherever the target's name fits.
inline constexpr std::string_view kTemporaryFilePrefix = ".kvtmp-";
std::string TemporaryFileName(uint32_t process_id, uint64_t unique);
// True when `name` is exactly such a name; stores its process id.
bool ParseTemporaryFileName(std::string_view name, uint32_t* process_id);

// Writes `contents` to `path` through CreateOutput/Write/Commit.
bool WriteWholeFile(FileSystem& fs, const std::string& path, const std::string& contents,
                    std::string* err);

}  // namespace kv
