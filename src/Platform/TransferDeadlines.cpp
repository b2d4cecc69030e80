#include "Platform/TransferDeadlines.h"

#include <algorithm>
#include <string>

namespace tolvane::platform {

double TransferDeadlines::inactivityInterval(const URLRequest& request, double sessionDefault) {
  double seconds = request.timeoutInterval > 0 ? request.timeoutInterval : sessionDefault;
  if (!(seconds > 0)) seconds = URLRequest::kDefaultTimeoutInterval;
  return std::min(seconds, URLRequest::kMaximumTimeoutInterval);
}

void TransferDeadlines::start(double inactivitySeconds, LowSpeedLimit limit,
                              Clock::time_point now) {
  inactivitySeconds_ = inactivitySeconds;
  limit_ = limit;
  lastMoved_ = windowMoved_ = 0;
  lastActivity_ = windowStart_ = now;
  lowSpeedArmed_ = false;
}

void TransferDeadlines::resumed(Clock::time_point now) {
  lastActivity_ = windowStart_ = now;
  windowMoved_ = lastMoved_;
}

void TransferDeadlines::held(Clock::time_point now, std::int64_t moved) {
  lastActivity_ = windowStart_ = now;
  windowMoved_ = lastMoved_ = moved;
}

std::optional<TransferFailure> TransferDeadlines::check(Clock::time_point now, std::int64_t body,
                                                        std::int64_t moved) {
  if (moved != lastMoved_) {
    lastMoved_ = moved;
    lastActivity_ = now;
  }
  if (now - lastActivity_ >= std::chrono::duration<double>(inactivitySeconds_)) {
    return TransferFailure{URLError::timedOut,
                           "no data for " + std::to_string(inactivitySeconds_) + " s"};
  }
  if (!lowSpeedArmed_) {
    if (body == 0) return std::nullopt;
    lowSpeedArmed_ = true;
    windowStart_ = now;
    windowMoved_ = moved;
  }
  const std::chrono::duration<double> window = now - windowStart_;
  if (limit_.seconds > 0 && window.count() >= static_cast<double>(limit_.seconds)) {
    const double rate = static_cast<double>(moved - windowMoved_) / window.count();
    if (rate < static_cast<double>(limit_.bytesPerSecond)) {
      return TransferFailure{URLError::timedOut,
                             "slower than " + std::to_string(limit_.bytesPerSecond) + " bytes/s"};
    }
    windowStart_ = now;
    windowMoved_ = moved;
  }
  return std::nullopt;
}

}  // namespace tolvane::platform
