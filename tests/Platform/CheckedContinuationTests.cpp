#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>

#include "Platform/CheckedContinuation.h"
#include "Platform/ForwardedError.h"
#include "Platform/SystemError.h"
#include "Support/Thrown.h"

namespace tolvane::platform {
namespace {

class PlainError final : public Error {
 public:
  [[nodiscard]] std::string localizedDescription() const override { return "plain"; }
};

TEST(CheckedContinuationTest, HandsTheValueOverFromAnotherThread) {
  CheckedContinuation<std::string> continuation("fetch manifest");
  std::thread worker([resumer = continuation.resumer()]() mutable { resumer.resume("manifest"); });
  EXPECT_EQ(continuation.wait(), "manifest");
  worker.join();

  CheckedContinuation<void> done("download");
  auto resumer = done.resumer();
  resumer.resume();
  EXPECT_NO_THROW(done.wait());
}

TEST(CheckedContinuationTest, ErrorsComeBackCatchableByTheirOwnTypeOrAsAnyError) {
  CheckedContinuation<int> system("copy");
  system.resumer().resume(makeError(SystemError(ENOSPC, SystemError::Operation::copy, "/x")));
  const auto thrownSystem = test::thrownBy<SystemError>("wait()", [&] { system.wait(); });
  EXPECT_EQ(thrownSystem.code(), ENOSPC);
  // Whoever catches it as std::exception reads the same text as the error's description.
  EXPECT_EQ(std::string(thrownSystem.what()), thrownSystem.localizedDescription());

  const ErrorPtr plain = std::make_shared<PlainError>();
  CheckedContinuation<int> other("request");
  other.resumer().resume(plain);
  // The same value, not a copy.
  const auto forwarded = test::thrownBy<ForwardedError>("wait()", [&] { other.wait(); });
  EXPECT_EQ(forwarded.error(), plain);
  EXPECT_EQ(std::string(forwarded.what()), plain->localizedDescription());
}

TEST(CheckedContinuationDeathTest, ResumingTwiceStopsNamingTheOperation) {
  EXPECT_DEATH(
      {
        CheckedContinuation<int> continuation("fetch manifest");
        auto first = continuation.resumer();
        auto second = first;
        first.resume(1);
        second.resume(2);
      },
      "continuation of 'fetch manifest' was resumed more than once");
}

TEST(CheckedContinuationDeathTest, DroppingEveryResumerWithoutResumingStops) {
  EXPECT_DEATH(
      {
        CheckedContinuation<int> continuation("download launcher");
        { auto lost = continuation.resumer(); }
        continuation.wait();
      },
      "continuation of 'download launcher' was dropped without being resumed");
  EXPECT_DEATH({ CheckedContinuation<void>("never handed out").wait(); },
               "continuation of 'never handed out' was dropped without being resumed");
}

}  // namespace
}  // namespace tolvane::platform
