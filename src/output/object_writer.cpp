#include "output/object_writer.h"

#include <algorithm>

#include "platform/file_system.h"

namespace kv {
namespace {

// Bytes leave in blocks of this size: large enough for few system calls,
// small enough to stay in the cache while they are masked.
constexpr size_t kBlockSize = size_t{1} << 20;

}  // namespace

ObjectWriter::ObjectWriter(uint64_t image_size, ScrambleKey key)
    : image_size_(image_size), scrambler_(image_size, key) {}

ObjectWriter::~ObjectWriter() = default;

bool ObjectWriter::Open(FileSystem& fs, const std::string& name) {
  file_ = fs.CreateOutput(name);
  if (!file_) return false;
  pending_.reserve(kBlockSize + 2);
  return true;
}

// Pending bytes stay below kBlockSize between calls, so every piece holds at
// least one byte and the pending block never grows past kBlockSize + 2 (the
// key and the step).
bool ObjectWriter::Write(const char* data, size_t n) {
  if (!file_) return false;
  while (n > 0) {
    const size_t piece = std::min(n, kBlockSize - pending_.size());
    scrambler_.Feed(data, piece, &pending_);
    data += piece;
    n -= piece;
    if (pending_.size() >= kBlockSize && !Flush()) return false;
  }
  return true;
}

bool ObjectWriter::Commit() {
  if (!file_) return false;
  // Contents shorter than two bytes carry key and step behind them: an empty
  // feed places them.
  scrambler_.Feed(nullptr, 0, &pending_);
  if (scrambler_.overflowed() || scrambler_.fed() != image_size_ || !Flush()) return false;
  return file_->Commit();
}

bool ObjectWriter::Flush() {
  if (pending_.empty()) return true;
  const bool written = file_->Write(pending_.data(), pending_.size());
  pending_.clear();
  return written;
}

}  // namespace kv
