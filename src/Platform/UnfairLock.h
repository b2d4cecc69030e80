#pragma once

#include <mutex>
#include <type_traits>

namespace tolvane::platform {

// A small, non-recursive mutual-exclusion lock. No code path may take it twice on one
// thread; it meets BasicLockable, so std::lock_guard and std::scoped_lock work with it.
class UnfairLock {
 public:
  UnfairLock() = default;
  UnfairLock(const UnfairLock&) = delete;
  UnfairLock& operator=(const UnfairLock&) = delete;

  void lock() { mutex_.lock(); }
  void unlock() { mutex_.unlock(); }

  // Runs `body` with the lock held and returns its result.
  template <typename Body>
  decltype(auto) around(Body&& body) {
    std::lock_guard guard(*this);
    return std::forward<Body>(body)();
  }

 private:
  std::mutex mutex_;
};

}  // namespace tolvane::platform
