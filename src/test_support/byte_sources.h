// Byte sources for the protocol's tests: a string read a few bytes at a
// time, and a pipe that the test fills while a reader thread waits on it.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>

#include "server/framing.h"

namespace kv {

class StringSource : public ByteSource {
 public:
  // Each read gives at most `chunk` bytes, so that headers and bodies arrive
  // cut at every place.
  explicit StringSource(std::string bytes, size_t chunk = 1 << 16)
      : bytes_(std::move(bytes)), chunk_(chunk) {}

  size_t Read(char* buffer, size_t size) override {
    const size_t n = std::min({size, chunk_, bytes_.size() - pos_});
    std::memcpy(buffer, bytes_.data() + pos_, n);
    pos_ += n;
    return n;
  }

 private:
  std::string bytes_;
  size_t chunk_;
  size_t pos_ = 0;
};

class PipeSource : public ByteSource {
 public:
  void Write(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    bytes_ += bytes;
    changed_.notify_all();
  }
  void Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    changed_.notify_all();
  }

  size_t Read(char* buffer, size_t size) override {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return closed_ || pos_ < bytes_.size(); });
    const size_t n = std::min(size, bytes_.size() - pos_);
    std::memcpy(buffer, bytes_.data() + pos_, n);
    pos_ += n;
    return n;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string bytes_;
  size_t pos_ = 0;
  bool closed_ = false;
};

}  // namespace kv
