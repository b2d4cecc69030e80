#include "UpdateServer/ByteRange.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

namespace tolvane::tools {
namespace {

using Kind = ByteRange::Kind;

struct RangeCase {
  const char* name;
  std::optional<std::string> header;
  std::uint64_t size;
  Kind kind;
  std::uint64_t first;
  std::uint64_t last;
  friend void PrintTo(const RangeCase& row, std::ostream* out) { *out << row.name; }
};

class ByteRangeResolve : public ::testing::TestWithParam<RangeCase> {};

TEST_P(ByteRangeResolve, ResolvesAgainstFileSize) {
  const RangeCase& c = GetParam();
  const ByteRange range = ByteRange::resolve(
      c.header ? std::optional<std::string_view>(*c.header) : std::nullopt, c.size);
  ASSERT_EQ(range.kind(), c.kind);
  if (c.kind == Kind::part) {
    EXPECT_EQ(range.first(), c.first);
    EXPECT_EQ(range.last(), c.last);
    EXPECT_EQ(range.length(), c.last - c.first + 1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Headers, ByteRangeResolve,
    ::testing::Values(
        RangeCase{"absent", std::nullopt, 10, Kind::wholeFile, 0, 0},
        RangeCase{"closed", "bytes=2-5", 10, Kind::part, 2, 5},
        RangeCase{"unit_in_any_case", "Bytes=2-5", 10, Kind::part, 2, 5},
        RangeCase{"single_byte", "bytes=0-0", 10, Kind::part, 0, 0},
        RangeCase{"last_byte", "bytes=9-9", 10, Kind::part, 9, 9},
        RangeCase{"open_ended", "bytes=7-", 10, Kind::part, 7, 9},
        RangeCase{"end_past_size_is_clamped", "bytes=8-20", 10, Kind::part, 8, 9},
        RangeCase{"suffix", "bytes=-3", 10, Kind::part, 7, 9},
        RangeCase{"suffix_longer_than_file", "bytes=-50", 10, Kind::part, 0, 9},
        RangeCase{"start_at_size", "bytes=10-", 10, Kind::unsatisfiable, 0, 0},
        RangeCase{"start_past_size", "bytes=100-200", 10, Kind::unsatisfiable, 0, 0},
        RangeCase{"zero_suffix", "bytes=-0", 10, Kind::unsatisfiable, 0, 0},
        RangeCase{"any_range_of_empty_file", "bytes=0-", 0, Kind::unsatisfiable, 0, 0},
        RangeCase{"huge_start", "bytes=99999999999999999999999-", 10, Kind::unsatisfiable, 0, 0},
        RangeCase{"huge_end", "bytes=3-99999999999999999999999", 10, Kind::part, 3, 9},
        RangeCase{"huge_suffix", "bytes=-99999999999999999999999", 10, Kind::part, 0, 9},
        RangeCase{"inverted_is_ignored", "bytes=5-2", 10, Kind::wholeFile, 0, 0},
        RangeCase{"several_ranges_are_ignored", "bytes=0-1,4-5", 10, Kind::wholeFile, 0, 0},
        RangeCase{"other_unit_is_ignored", "items=0-1", 10, Kind::wholeFile, 0, 0},
        RangeCase{"signs_are_ignored", "bytes=+1-5", 10, Kind::wholeFile, 0, 0},
        RangeCase{"garbage_is_ignored", "bytes=a-b", 10, Kind::wholeFile, 0, 0},
        RangeCase{"no_dash_is_ignored", "bytes=5", 10, Kind::wholeFile, 0, 0}),
    [](const ::testing::TestParamInfo<RangeCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tolvane::tools
