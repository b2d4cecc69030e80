#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <unordered_map>

#include "HTTP/Core/EventMonitor.h"
#include "Platform/UUID.h"

namespace tolvane {

// Writes one line per HTTP request attempt, for --verbose:
//   "HTTP GET <url> attempt <n>: <status> in <ms> ms"
// with the failure's description after the status when the attempt failed. Nothing else
// of the layer's traffic is shown.
//
// Events arrive on the main queue (the EventMonitor default); attempts_ belongs to it.
class TraceEventMonitor final : public http::EventMonitor {
 public:
  // `beforeLine`, when given, runs before each line is written (a progress line drawn on
  // the same terminal is erased there first).
  explicit TraceEventMonitor(std::ostream& out, std::function<void()> beforeLine = nullptr);

  void requestDidCreateTask(const std::shared_ptr<http::Request>& request, const platform::TaskPtr& task) override;
  void requestDidGatherMetrics(const std::shared_ptr<http::Request>& request,
                               const platform::URLSessionTaskMetrics& metrics) override;
  void requestDidCompleteTaskWithError(const std::shared_ptr<http::Request>& request, const platform::TaskPtr& task,
                                       const std::optional<http::HTTPError>& error) override;
  void requestIsRetrying(const std::shared_ptr<http::Request>& request) override;
  void requestDidFinish(const std::shared_ptr<http::Request>& request) override;

 private:
  struct Attempt {
    int number = 0;
    std::chrono::steady_clock::time_point created;
    // The transport's own timing, when it reported one; preferred over `created`.
    std::optional<std::chrono::steady_clock::duration> duration;
  };

  std::ostream& out_;
  std::function<void()> beforeLine_;
  std::unordered_map<platform::UUID, Attempt> attempts_;
};

}  // namespace tolvane
