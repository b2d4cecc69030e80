#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "Platform/Error.h"
#include "Platform/ForwardedError.h"
#include "Platform/SystemError.h"

namespace tolvane::test {

// The error of type E that `step` throws, or nothing. For a step that may or may not throw;
// where it must, thrownBy says which step did not.
template <typename E, typename F>
std::optional<E> thrown(F&& step) {
  try {
    step();
  } catch (const E& error) {
    return error;
  }
  return std::nullopt;
}

// The cause inside a placeholder error, for the checks that read an error's cause.
class NothingThrown final : public platform::Error {
 public:
  [[nodiscard]] std::string localizedDescription() const override { return "nothing thrown"; }
};

// What thrownBy hands back when the step threw nothing: any E, so that the test's other
// checks still run (and fail) instead of the test stopping on an empty optional. Specialised
// beside each error type without a default constructor that tests expect thrown.
template <typename E>
struct Placeholder {
  static E make() { return E(); }
};
template <>
struct Placeholder<platform::SystemError> {
  static platform::SystemError make() { return {0, platform::SystemError::Operation::read}; }
};
template <>
struct Placeholder<platform::ForwardedError> {
  static platform::ForwardedError make() {
    return platform::ForwardedError(std::make_shared<NothingThrown>());
  }
};

// The error of type E that `f` throws. When f throws nothing, the test fails with a message
// naming `step` ("downloadLauncher() threw nothing") and a placeholder comes back. Another
// exception passes through to the test, which reports it.
template <typename E, typename F>
E thrownBy(std::string_view step, F&& f) {
  if (auto error = thrown<E>(std::forward<F>(f))) return std::move(*error);
  ADD_FAILURE() << step << " threw nothing";
  return Placeholder<E>::make();
}

}  // namespace tolvane::test
