// A mutex, its scoped lock and a condition variable that clang's thread
// safety analysis knows (the standard library's carry no annotations), over
// the standard ones.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/thread_annotations.h"

namespace kv {

class LOCKABLE Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() EXCLUSIVE_LOCK_FUNCTION() { mutex_.lock(); }
  void Unlock() UNLOCK_FUNCTION() { mutex_.unlock(); }
  void AssertHeld() ASSERT_EXCLUSIVE_LOCK() {}

 private:
  friend class CondVar;
  std::mutex mutex_;
};

// Holds `mutex` for its own lifetime.
class SCOPED_LOCKABLE MutexLock {
 public:
  explicit MutexLock(Mutex* mutex) EXCLUSIVE_LOCK_FUNCTION(mutex) : mutex_(mutex) { mutex_->Lock(); }
  ~MutexLock() UNLOCK_FUNCTION() { mutex_->Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex* const mutex_;
};

// Waits for a change of what `mutex` guards. Each wait needs the mutex held
// (the analysis cannot tie the two together, so it is not annotated), and
// holds it again when it returns.
class CondVar {
 public:
  explicit CondVar(Mutex* mutex) : mutex_(mutex) {}
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;

  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_->mutex_, std::adopt_lock);
    condition_.wait(lock);
    lock.release();
  }
  // False when `deadline` passed first.
  bool WaitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_->mutex_, std::adopt_lock);
    const bool woken = condition_.wait_until(lock, deadline) == std::cv_status::no_timeout;
    lock.release();
    return woken;
  }
  void Signal() { condition_.notify_one(); }

 private:
  Mutex* const mutex_;
  std::condition_variable condition_;
};

}  // namespace kv
