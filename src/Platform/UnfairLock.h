#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "Platform/ThreadSafety.h"

namespace tolvane::platform {

// A small, non-recursive mutual-exclusion lock. No code path may take it twice on one
// thread. Fields it guards say so with TOLVANE_GUARDED_BY, and code takes it through
// UnfairLock::Locker, so clang checks every access.
class TOLVANE_CAPABILITY("mutex") UnfairLock {
 public:
  UnfairLock() = default;
  UnfairLock(const UnfairLock&) = delete;
  UnfairLock& operator=(const UnfairLock&) = delete;

  void lock() TOLVANE_ACQUIRE() { mutex_.lock(); }
  void unlock() TOLVANE_RELEASE() { mutex_.unlock(); }

  // Holds the lock from construction to destruction; unlock() and lock() let go of it
  // for a stretch in between.
  class TOLVANE_SCOPED_CAPABILITY Locker {
   public:
    explicit Locker(UnfairLock& lock) TOLVANE_ACQUIRE(lock) : lock_(lock) { lock_.lock(); }
    ~Locker() TOLVANE_RELEASE() {
      if (held_) lock_.unlock();
    }
    Locker(const Locker&) = delete;
    Locker& operator=(const Locker&) = delete;

    void unlock() TOLVANE_RELEASE() {
      held_ = false;
      lock_.unlock();
    }
    void lock() TOLVANE_ACQUIRE() {
      lock_.lock();
      held_ = true;
    }

   private:
    UnfairLock& lock_;
    bool held_ = true;
  };

  // Runs `body` with the lock held and returns its result.
  template <typename Body>
  decltype(auto) around(Body&& body) {
    Locker locker(*this);
    return std::forward<Body>(body)();
  }

  // Sleeps until `condition` is notified, letting go of the lock meanwhile. Called, and
  // returns, with the lock held; wake-ups may be spurious, so callers loop on their state.
  void wait(std::condition_variable& condition) TOLVANE_REQUIRES(this) {
    std::unique_lock native(mutex_, std::adopt_lock);
    condition.wait(native);
    native.release();
  }

  // As wait(), but no later than `deadline`; false when the deadline passed.
  template <typename Clock, typename Duration>
  bool waitUntil(std::condition_variable& condition,
                 const std::chrono::time_point<Clock, Duration>& deadline) TOLVANE_REQUIRES(this) {
    std::unique_lock native(mutex_, std::adopt_lock);
    const bool notified = condition.wait_until(native, deadline) == std::cv_status::no_timeout;
    native.release();
    return notified;
  }

 private:
  std::mutex mutex_;
};

}  // namespace tolvane::platform
