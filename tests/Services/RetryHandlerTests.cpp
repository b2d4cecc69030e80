#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "Services/RetryHandler.h"
#include "Support/ParamName.h"
#include "Support/TemporaryHome.h"

namespace tolvane::test {
namespace {

struct DelayCase {
  std::optional<std::string> variable;
  double expectedDelay;
  friend void PrintTo(const DelayCase& row, std::ostream* out) {
    *out << (row.variable ? '"' + *row.variable + '"' : "unset");
  }
};

class RetryHandlerFactoryTest : public ::testing::TestWithParam<DelayCase> {};

// The environment may shorten the delay for tests and diagnostics; anything that is not a
// plain non-negative number leaves the program's 5 seconds in place, and the limit never moves.
TEST_P(RetryHandlerFactoryTest, ProductionHandlerUsesThreeRetriesAndTheDelay) {
  TemporaryHome home;
  home.setEnvironment(RetryHandler::kRetryDelayVariable, GetParam().variable);

  const auto handler = RetryHandler::make();

  EXPECT_EQ(handler->retryLimit(), 3);
  EXPECT_EQ(handler->retryDelay(), GetParam().expectedDelay);
}

INSTANTIATE_TEST_SUITE_P(Variable, RetryHandlerFactoryTest,
                         ::testing::Values(DelayCase{std::nullopt, 5.0}, DelayCase{"", 5.0},
                                           DelayCase{"0.25", 0.25}, DelayCase{"0", 0.0},
                                           DelayCase{"-1", 5.0}, DelayCase{"abc", 5.0},
                                           DelayCase{"2s", 5.0}, DelayCase{"nan", 5.0},
                                           DelayCase{"inf", 5.0}, DelayCase{"1e999", 5.0}),
                         [](const auto& info) {
                           return paramName(info.param.variable.value_or("unset"), info.index);
                         });

}  // namespace
}  // namespace tolvane::test
