#include "output/object_writer.h"

#include <algorithm>

#include "platform/file_system.h"

namespace kv {
namespace {

// Bytes leave in blocks of this size: large enough for few system calls,
// small enough to stay in the cache between being read, masked and written.
constexpr size_t kBlockSize = size_t{256} << 10;
// Key and step may join the bytes of a block.
constexpr size_t kBlockRoom = kBlockSize + 2;

}  // namespace

ObjectWriter::ObjectWriter(uint64_t image_size, ScrambleKey key)
    : image_size_(image_size), scrambler_(image_size, key) {}

ObjectWriter::~ObjectWriter() = default;

bool ObjectWriter::Open(FileSystem& fs, const std::string& name) {
  file_ = fs.CreateOutput(name, &error_);
  if (!file_) return false;
  block_ = std::make_unique<char[]>(kBlockRoom);
  return true;
}

bool ObjectWriter::CanWrite(FileSystem& fs, const std::string& name, std::string* err) {
  // Dropped uncommitted, the temporary file goes at once.
  return fs.CreateOutput(name, err) != nullptr;
}

// The block holds fewer than kBlockSize bytes between calls, so every piece
// holds at least one byte and key and step always find room.
bool ObjectWriter::Write(const char* data, size_t n) {
  if (!file_) return false;
  while (n > 0) {
    const size_t piece = std::min(n, kBlockSize - used_);
    used_ += scrambler_.Feed(data, piece, block_.get() + used_);
    data += piece;
    n -= piece;
    if (used_ >= kBlockSize && !Flush()) return false;
  }
  return true;
}

bool ObjectWriter::WriteFrom(InputFile& in, uint64_t limit, size_t* got, bool* read_failed,
                             std::string* read_error) {
  *got = 0;
  *read_failed = false;
  if (!file_) return false;
  const size_t room = static_cast<size_t>(std::min<uint64_t>(kBlockSize - used_, limit));
  if (room == 0) return true;
  if (!scrambler_.key_written()) {
    // Key and step are still to come and would move the bytes after them:
    // these go the long way, through a buffer of their own.
    std::unique_ptr<char[]> buffer = std::make_unique<char[]>(room);
    if (!in.Read(buffer.get(), room, got, read_error)) {
      *read_failed = true;
      return false;
    }
    return Write(buffer.get(), *got);
  }
  char* const at = block_.get() + used_;
  if (!in.Read(at, room, got, read_error)) {
    *read_failed = true;
    return false;
  }
  scrambler_.MaskInPlace(at, *got);
  used_ += *got;
  return used_ < kBlockSize || Flush();
}

bool ObjectWriter::Commit() {
  if (!file_) return false;
  // Contents shorter than two bytes carry key and step behind them: an empty
  // feed places them.
  used_ += scrambler_.Feed(nullptr, 0, block_.get() + used_);
  if (scrambler_.overflowed() || scrambler_.fed() != image_size_ || !Flush()) return false;
  return file_->Commit(&error_);
}

bool ObjectWriter::Flush() {
  if (used_ == 0) return true;
  const bool written = file_->Write(block_.get(), used_, &error_);
  used_ = 0;
  return written;
}

}  // namespace kv
