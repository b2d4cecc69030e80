#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <sstream>
#include <string>

#include "App/ProgressLine.h"
#include "Support/ParamName.h"

namespace tolvane {
namespace {

using namespace std::chrono_literals;

struct FormatCase {
  std::int64_t bytes;
  std::int64_t expected;
  std::optional<double> rate;
  std::string text;
  friend void PrintTo(const FormatCase& row, std::ostream* out) { *out << '"' << row.text << '"'; }
};

class ProgressLineFormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(ProgressLineFormatTest, ShowsBytesPercentAndRate) {
  const auto& param = GetParam();
  EXPECT_EQ(ProgressLine::format(param.bytes, param.expected, param.rate), param.text);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ProgressLineFormatTest,
    ::testing::Values(FormatCase{0, -1, std::nullopt, "0 B"},
                      FormatCase{1023, 4096, 512.0, "1023 B of 4.0 KiB (24%), 512 B/s"},
                      FormatCase{13'107'200, 41'943'040, 2'097'152.0,
                                 "12.5 MiB of 40.0 MiB (31%), 2.0 MiB/s"},
                      FormatCase{5'368'709'120, -1, std::nullopt, "5.0 GiB"},
                      // A server that sends more than it announced never shows more than 100 %.
                      FormatCase{2048, 1024, std::nullopt, "2.0 KiB of 1.0 KiB (100%)"}),
    [](const auto& info) { return test::paramName(info.param.text, info.index); });

class ProgressLineTest : public ::testing::Test {
 protected:
  std::ostringstream out_;
  ProgressLine::Clock::time_point now_{};
  ProgressLine line_{out_, [this] { return now_; }};
};

TEST_F(ProgressLineTest, RedrawsInPlaceAtMostEveryIntervalAndEndsWithANewline) {
  line_.update(1024, 4096);
  now_ += 50ms;
  line_.update(2048, 4096);  // too soon: not drawn
  now_ += 50ms;
  line_.update(3072, 4096);
  now_ += 900ms;
  line_.finish();
  line_.finish();  // nothing more to end

  EXPECT_EQ(out_.str(),
            "\r1.0 KiB of 4.0 KiB (25%)\x1b[K"
            "\r3.0 KiB of 4.0 KiB (75%), 20.0 KiB/s\x1b[K"
            "\r3.0 KiB of 4.0 KiB (75%), 2.0 KiB/s\x1b[K\n");
}

TEST_F(ProgressLineTest, RateCountsOnlyNewBytesAcrossARestartAndAClearedLine) {
  line_.update(400'000, 1'000'000);  // continued from an earlier run: not part of the rate
  now_ += 1s;
  line_.update(500'000, 1'000'000);
  line_.clear();  // a trace line takes the row
  now_ += 1s;
  line_.update(100'000, 1'000'000);  // the transfer started over

  EXPECT_EQ(out_.str(),
            "\r390.6 KiB of 976.6 KiB (40%)\x1b[K"
            "\r488.3 KiB of 976.6 KiB (50%), 97.7 KiB/s\x1b[K"
            "\r\x1b[K"
            "\r97.7 KiB of 976.6 KiB (10%), 97.7 KiB/s\x1b[K");
}

}  // namespace
}  // namespace tolvane
