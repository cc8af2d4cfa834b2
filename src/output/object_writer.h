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
  bool Write(const char* data, size_t n);
  bool Write(std::string_view bytes) { return Write(bytes.data(), bytes.size()); }
  // Writes what is pending and renames the file into place. False when
  // anything could not be written, or fewer or more bytes came than announced.
  bool Commit();

 private:
  bool Flush();

  std::unique_ptr<OutputFile> file_;
  uint64_t image_size_;
  StreamScrambler scrambler_;
  std::string pending_;
};

}  // namespace kv
