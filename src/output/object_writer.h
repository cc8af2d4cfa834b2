// The one way an object file reaches the disk: the image's bytes go in,
// leave scrambled in large blocks for a temporary file beside the target,
// and the temporary file is renamed into place when everything is written.
// An object that fails anywhere leaves the older file of its name as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "output/scramble.h"

namespace kv {

class FileSystem;
class InputFile;
class OutputFile;

class ObjectWriter {
 public:
  // Offsets and lengths in objects are signed 32-bit fields that the engine
  // reads, so an image (before the two scramble bytes) may not pass this.
  static constexpr uint64_t kMaxImageSize = 2147483647;

  // `image_size` is the exact number of bytes that will be written.
  ObjectWriter(uint64_t image_size, ScrambleKey key);
  ~ObjectWriter();

  // Starts the temporary file of `name`; false when it cannot be created.
  bool Open(FileSystem& fs, const std::string& name);
  // Whether `name` could be written: its temporary file is created and
  // removed again, and `name` itself is left as it is. False, with the
  // system's reason in *err, where Open would fail.
  static bool CanWrite(FileSystem& fs, const std::string& name, std::string* err);
  bool Write(const char* data, size_t n);
  bool Write(std::string_view bytes) { return Write(bytes.data(), bytes.size()); }
  // Reads at most `limit` bytes of `in` straight into the block and masks
  // them where they stand; *got receives how many came (0 at the end of the
  // file). False when the file cannot be read (*read_failed set, the
  // system's reason in *read_error) or the block cannot be written.
  bool WriteFrom(InputFile& in, uint64_t limit, size_t* got, bool* read_failed,
                 std::string* read_error = nullptr);
  // Writes what is pending and renames the file into place. False when
  // anything could not be written, or fewer or more bytes came than announced.
  bool Commit();
  // The system's reason for the last failure, empty when the failure was not
  // the system's (fewer or more bytes than announced).
  const std::string& error() const { return error_; }

 private:
  bool Flush();

  std::unique_ptr<OutputFile> file_;
  uint64_t image_size_;
  StreamScrambler scrambler_;
  // The block being filled: used_ bytes of it are scrambled and pending.
  std::unique_ptr<char[]> block_;
  size_t used_ = 0;
  std::string error_;
};

}  // namespace kv
