#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "Platform/TransferFailure.h"
#include "Platform/URLRequest.h"

namespace tolvane::platform {

// When a transfer has taken too long. Two guards, checked on each progress report:
//   - inactivity: no byte moved for the request's time-out interval;
//   - low speed: slower than `bytesPerSecond` over a window of `seconds`, counted from the
//     first body byte (waiting for a slow server to answer is the inactivity guard's
//     business), so a trickling server cannot hold a request for ever.
// Time spent suspended or waiting for the delegate counts for neither. Takes the time as
// an argument, so its rules can be run without waiting. Network thread only.
class TransferDeadlines {
 public:
  using Clock = std::chrono::steady_clock;

  struct LowSpeedLimit {
    long bytesPerSecond = 0;
    long seconds = 0;  // 0: no low-speed guard
  };

  // The inactivity interval of `request`: its own, else `sessionDefault`, else the default;
  // at most URLRequest::kMaximumTimeoutInterval (a huge one from resume data or a caller's
  // arithmetic must not overflow libcurl's milliseconds).
  [[nodiscard]] static double inactivityInterval(const URLRequest& request, double sessionDefault);

  // A new attempt (first request or a redirect hop) starts at `now`.
  void start(double inactivitySeconds, LowSpeedLimit limit, Clock::time_point now);
  // Bytes arrived at `now` (head or body).
  void activity(Clock::time_point now) { lastActivity_ = now; }
  // The transfer goes on after a hold (suspension, waiting for the delegate).
  void resumed(Clock::time_point now);
  // Progress at `now` while the transfer is held: `moved` bytes so far, all forgiven.
  void held(Clock::time_point now, std::int64_t moved);
  // Progress at `now`: `body` body bytes and `moved` bytes either way so far in this
  // attempt. Why the transfer must stop, if a deadline has passed.
  [[nodiscard]] std::optional<TransferFailure> check(Clock::time_point now, std::int64_t body,
                                                     std::int64_t moved);

  [[nodiscard]] double inactivitySeconds() const { return inactivitySeconds_; }

 private:
  double inactivitySeconds_ = URLRequest::kDefaultTimeoutInterval;
  LowSpeedLimit limit_;
  Clock::time_point lastActivity_{};
  std::int64_t lastMoved_ = 0;
  Clock::time_point windowStart_{};
  std::int64_t windowMoved_ = 0;
  bool lowSpeedArmed_ = false;  // the first body byte of this attempt has arrived
};

}  // namespace tolvane::platform
