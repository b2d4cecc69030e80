#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

namespace tolvane {

// The download's progress as one line on a terminal: bytes so far, the percentage when the
// size is known, and the rate, redrawn in place (carriage return, erase to the end of the
// line) at most every kRedrawInterval, and ended with a newline when the download ends.
// Meant for a terminal only; the caller decides whether there is one.
//
// Used from one thread (the main thread, where the progress reports and the trace lines
// arrive).
class ProgressLine {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kRedrawInterval{100};

  explicit ProgressLine(std::ostream& out, std::function<Clock::time_point()> now = &Clock::now);

  // `bytes` of `expected` (negative when unknown). A count that drops means the transfer
  // started over; the rate then counts from the new start.
  void update(std::int64_t bytes, std::int64_t expected);
  // Shows the last report and ends the line with a newline; nothing when there was no
  // report. The next update starts a new line.
  void finish();
  // Erases a drawn line so that another line can take its place; the next update draws it
  // again.
  void clear();

  // "12.5 MiB of 40.0 MiB (31%), 2.0 MiB/s"; without the size "12.5 MiB, 2.0 MiB/s", and
  // without a rate (none measured yet) the part after the comma is left out.
  [[nodiscard]] static std::string format(std::int64_t bytes, std::int64_t expected,
                                          std::optional<double> bytesPerSecond);

 private:
  void draw(std::int64_t bytes, std::int64_t expected);

  std::ostream& out_;
  std::function<Clock::time_point()> now_;
  bool drawn_ = false;
  std::optional<Clock::time_point> lastDraw_;
  // The rate counts bytes that arrived after the first report: that one may stand for a
  // part continued from an earlier transfer.
  std::optional<Clock::time_point> start_;
  std::int64_t last_ = 0;
  std::int64_t expected_ = -1;
  std::int64_t counted_ = 0;
};

}  // namespace tolvane
