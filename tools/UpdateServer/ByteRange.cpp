#include "UpdateServer/ByteRange.h"

#include <charconv>
#include <limits>

#include "Platform/Text.h"

namespace tolvane::tools {

using platform::lowercased;
using platform::trimmed;

namespace {

constexpr std::string_view kUnitPrefix = "bytes=";
constexpr std::uint64_t kUnbounded = std::numeric_limits<std::uint64_t>::max();

// A run of decimal digits; numbers too large for 64 bits saturate, since they can only
// mean "beyond the end of any file".
std::optional<std::uint64_t> parseDigits(std::string_view text) {
  if (text.empty()) {
    return std::nullopt;
  }
  for (char c : text) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
  }
  std::uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc::result_out_of_range) {
    return kUnbounded;
  }
  if (error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

ByteRange ByteRange::resolve(std::optional<std::string_view> header, std::uint64_t fileSize) {
  const ByteRange whole(Kind::wholeFile, 0, fileSize == 0 ? 0 : fileSize - 1);
  const ByteRange unsatisfiable(Kind::unsatisfiable, 0, 0);
  if (!header) {
    return whole;
  }
  std::string_view rangeSet = trimmed(*header);
  // Range units are case-insensitive: "Bytes=0-5" asks for the same part.
  if (lowercased(rangeSet.substr(0, kUnitPrefix.size())) != kUnitPrefix) {
    return whole;
  }
  rangeSet.remove_prefix(kUnitPrefix.size());
  if (rangeSet.find(',') != std::string_view::npos) {
    return whole;
  }
  rangeSet = trimmed(rangeSet);
  const auto dash = rangeSet.find('-');
  if (dash == std::string_view::npos) {
    return whole;
  }
  const std::string_view firstText = rangeSet.substr(0, dash);
  const std::string_view lastText = rangeSet.substr(dash + 1);

  if (firstText.empty()) {
    // "-N": the last N bytes.
    const auto suffix = parseDigits(lastText);
    if (!suffix) {
      return whole;
    }
    if (*suffix == 0 || fileSize == 0) {
      return unsatisfiable;
    }
    const std::uint64_t length = *suffix < fileSize ? *suffix : fileSize;
    return {Kind::part, fileSize - length, fileSize - 1};
  }

  const auto first = parseDigits(firstText);
  if (!first) {
    return whole;
  }
  std::uint64_t last = kUnbounded;
  if (!lastText.empty()) {
    const auto parsedLast = parseDigits(lastText);
    if (!parsedLast || *parsedLast < *first) {
      return whole;
    }
    last = *parsedLast;
  }
  if (*first >= fileSize) {
    return unsatisfiable;
  }
  return {Kind::part, *first, last < fileSize ? last : fileSize - 1};
}

}  // namespace tolvane::tools
