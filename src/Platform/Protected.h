#pragma once

#include <cstddef>
#include <functional>
#include <utility>

#include "Platform/UnfairLock.h"

namespace tolvane::platform {

// A value that is only ever touched with its own lock held. Each operation holds the lock
// for exactly its own duration; closures passed in must not call back into the same
// Protected (the lock is not recursive).
template <typename T>
class Protected {
 public:
  Protected() = default;
  explicit Protected(T value) : value_(std::move(value)) {}
  Protected(const Protected&) = delete;
  Protected& operator=(const Protected&) = delete;

  // Runs `reader` with the value and returns its result.
  template <typename Reader>
  decltype(auto) read(Reader&& reader) const {
    UnfairLock::Locker locker(lock_);
    return std::forward<Reader>(reader)(std::as_const(value_));
  }

  // Runs `writer` with the value, which it may change in place, and returns its result.
  template <typename Writer>
  decltype(auto) write(Writer&& writer) {
    UnfairLock::Locker locker(lock_);
    return std::forward<Writer>(writer)(value_);
  }

  [[nodiscard]] T get() const {
    UnfairLock::Locker locker(lock_);
    return value_;
  }

  void set(T value) {
    // The old value is destroyed outside the lock: its destructor may do anything.
    [[maybe_unused]] T old =
        write([&](T& current) { return std::exchange(current, std::move(value)); });
  }

  // Each side is read under its own lock, never both locks at once.
  friend bool operator==(const Protected& a, const Protected& b) requires requires(const T& x) {
    x == x;
  }
  {
    if (&a == &b) return true;
    return a.get() == b.get();
  }

 private:
  mutable UnfairLock lock_;
  T value_ TOLVANE_GUARDED_BY(lock_) = T{};
};

}  // namespace tolvane::platform

template <typename T>
requires requires(const T& x) { std::hash<T>{}(x); }
struct std::hash<tolvane::platform::Protected<T>> {
  std::size_t operator()(const tolvane::platform::Protected<T>& p) const {
    return p.read([](const T& value) { return std::hash<T>{}(value); });
  }
};
