#pragma once

#include <chrono>
#include <cstdint>

namespace tolvane::platform {

// Timing of one transport task, gathered once when the task ends (successfully or not).
struct URLSessionTaskMetrics {
  using Clock = std::chrono::steady_clock;

  // From resume until completion.
  Clock::time_point taskIntervalStart{};
  Clock::duration taskIntervalDuration{};
  int redirectCount = 0;
  // Phases of the last transaction, in seconds from its start (libcurl's timers); 0 when
  // the phase did not happen.
  double nameLookupSeconds = 0;
  double connectSeconds = 0;
  double tlsHandshakeSeconds = 0;
  double startTransferSeconds = 0;
  double totalSeconds = 0;
  std::int64_t countOfBytesReceived = 0;
  std::int64_t countOfBytesSent = 0;
};

}  // namespace tolvane::platform
