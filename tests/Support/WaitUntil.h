#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace tolvane::test {

// Polls `predicate` every `interval` until it holds (true) or `timeout` passes (false).
inline bool waitUntil(const std::function<bool()>& predicate,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10),
                      std::chrono::milliseconds interval = std::chrono::milliseconds(1)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(interval);
  }
  return true;
}

}  // namespace tolvane::test
