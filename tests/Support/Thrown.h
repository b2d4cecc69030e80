#pragma once

#include <optional>

namespace tolvane::test {

// The error of type E that `step` throws, or nothing. Use .value() to fail loudly when the
// step unexpectedly succeeds.
template <typename E, typename F>
std::optional<E> thrown(F&& step) {
  try {
    step();
  } catch (const E& error) {
    return error;
  }
  return std::nullopt;
}

}  // namespace tolvane::test
