#include "App/ProgressLine.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <utility>

namespace tolvane {
namespace {

std::string amount(double bytes) {
  static constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  std::size_t unit = 0;
  while (bytes >= 1024 && unit + 1 < std::size(kUnits)) {
    bytes /= 1024;
    ++unit;
  }
  char text[32];
  if (unit == 0) {
    std::snprintf(text, sizeof text, "%.0f B", bytes);
  } else {
    std::snprintf(text, sizeof text, "%.1f %s", bytes, kUnits[unit]);
  }
  return text;
}

}  // namespace

ProgressLine::ProgressLine(std::ostream& out, std::function<Clock::time_point()> now)
    : out_(out), now_(std::move(now)) {}

std::string ProgressLine::format(std::int64_t bytes, std::int64_t expected,
                                 std::optional<double> bytesPerSecond) {
  std::string text = amount(static_cast<double>(bytes));
  if (expected > 0) {
    const auto percent = std::min<std::int64_t>(100, bytes * 100 / expected);
    text += " of " + amount(static_cast<double>(expected)) + " (" + std::to_string(percent) + "%)";
  }
  if (bytesPerSecond) text += ", " + amount(*bytesPerSecond) + "/s";
  return text;
}

void ProgressLine::update(std::int64_t bytes, std::int64_t expected) {
  const auto now = now_();
  if (!start_) {
    start_ = now;
  } else {
    counted_ += bytes >= last_ ? bytes - last_ : bytes;
  }
  last_ = bytes;
  expected_ = expected;
  if (drawn_ && lastDraw_ && now - *lastDraw_ < kRedrawInterval) return;
  lastDraw_ = now;
  draw(bytes, expected);
}

void ProgressLine::draw(std::int64_t bytes, std::int64_t expected) {
  const std::chrono::duration<double> elapsed = *lastDraw_ - *start_;
  std::optional<double> rate;
  if (elapsed.count() > 0) rate = static_cast<double>(counted_) / elapsed.count();
  out_ << "\r" << format(bytes, expected, rate) << "\x1b[K" << std::flush;
  drawn_ = true;
}

void ProgressLine::finish() {
  if (!start_) return;
  // The last report may have come too soon after a redraw to be shown.
  lastDraw_ = now_();
  draw(last_, expected_);
  out_ << "\n" << std::flush;
  drawn_ = false;
  start_.reset();
  lastDraw_.reset();
  last_ = counted_ = 0;
}

void ProgressLine::clear() {
  if (!drawn_) return;
  out_ << "\r\x1b[K" << std::flush;
  drawn_ = false;
}

}  // namespace tolvane
