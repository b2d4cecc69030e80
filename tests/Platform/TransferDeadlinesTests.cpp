#include <gtest/gtest.h>

#include <vector>

#include "Platform/TransferDeadlines.h"

namespace tolvane::platform {
namespace {

// A progress report at `ms` with `bytes` received so far; `held`: while suspended or
// waiting for the delegate.
struct Report {
  int ms;
  std::int64_t bytes;
  bool held = false;
};

struct DeadlineCase {
  const char* name;
  double inactivitySeconds;
  long lowSpeedSeconds;  // 0: no low-speed guard; the limit is 1 KiB/s
  std::vector<Report> reports;
  const char* failure;  // how the failure's detail starts, at the last report; none: going on
};

void PrintTo(const DeadlineCase& row, std::ostream* out) { *out << row.name; }

class TransferDeadlinesTest : public ::testing::TestWithParam<DeadlineCase> {};

TEST_P(TransferDeadlinesTest, FailOnlyWhenADeadlinePassed) {
  const auto start = TransferDeadlines::Clock::time_point{};
  TransferDeadlines deadlines;
  deadlines.start(GetParam().inactivitySeconds, {1024, GetParam().lowSpeedSeconds}, start);
  std::optional<TransferFailure> failure;
  for (const auto& report : GetParam().reports) {
    ASSERT_FALSE(failure) << "failed early: " << failure->detail;
    const auto now = start + std::chrono::milliseconds(report.ms);
    if (report.held) {
      deadlines.held(now, report.bytes);
    } else {
      failure = deadlines.check(now, report.bytes, report.bytes);
    }
  }
  ASSERT_EQ(failure.has_value(), GetParam().failure != nullptr);
  if (!failure) return;
  EXPECT_EQ(failure->code, URLError::timedOut);
  EXPECT_EQ(failure->detail.rfind(GetParam().failure, 0), 0u) << failure->detail;
}

// A report every `stepMs` until `untilMs`, `bytes` more each time.
std::vector<Report> drip(int stepMs, int untilMs, std::int64_t bytes) {
  std::vector<Report> reports;
  for (int ms = 0; ms <= untilMs; ms += stepMs) reports.push_back({ms, bytes * (ms / stepMs)});
  return reports;
}

INSTANTIATE_TEST_SUITE_P(
    Transfers, TransferDeadlinesTest,
    ::testing::Values(
        DeadlineCase{"StalledBody", 1.0, 0, {{0, 0}, {400, 11}, {1300, 11}, {1400, 11}}, "no data"},
        DeadlineCase{"LateHead", 1.0, 0, {{0, 0}, {999, 0}, {1000, 0}}, "no data"},
        DeadlineCase{"SlowButSteadyOutlastsTheInterval", 1.0, 0, drip(300, 3000, 30), nullptr},
        DeadlineCase{"TrickleBelowTheLowSpeedLimit", 10.0, 1, drip(100, 1100, 100), "slower than"},
        DeadlineCase{"FastEnoughKeepsGoing", 10.0, 1, drip(500, 3000, 1024), nullptr},
        DeadlineCase{"LowSpeedCountsFromTheFirstBodyByte",
                     10.0,
                     1,
                     {{0, 0}, {1200, 0}, {1500, 20000}, {1600, 20000}},
                     nullptr},
        DeadlineCase{"HeldTimeIsNotInactivity",
                     1.0,
                     1,
                     {{0, 0}, {200, 10}, {500, 10, true}, {1800, 10, true}, {1900, 10}},
                     nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TransferDeadlinesTest, InactivityIntervalIsTheRequestsElseTheSessionsWithinBounds) {
  URLRequest request;
  request.timeoutInterval = 30;
  EXPECT_EQ(TransferDeadlines::inactivityInterval(request, 5), 30);
  request.timeoutInterval = 0;
  EXPECT_EQ(TransferDeadlines::inactivityInterval(request, 5), 5);
  EXPECT_EQ(TransferDeadlines::inactivityInterval(request, -1),
            URLRequest::kDefaultTimeoutInterval);
  request.timeoutInterval = 1e300;
  EXPECT_EQ(TransferDeadlines::inactivityInterval(request, 5), URLRequest::kMaximumTimeoutInterval);
}

}  // namespace
}  // namespace tolvane::platform
