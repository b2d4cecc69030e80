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
// with the failure's description after the status when the attempt failed, and
//   "HTTP GET <url> attempt <n>: validation failed (<reason>)"
// when a transfer that worked was refused by a validator (a status or type the caller does
// not accept), which the attempt's own line cannot show. Nothing else is shown.
//
// Events arrive on the main queue (the EventMonitor default); attempts_ belongs to it.
class TraceEventMonitor final : public http::EventMonitor {
 public:
  // `beforeLine`, when given, runs before each line is written (a progress line drawn on
  // the same terminal is erased there first).
  explicit TraceEventMonitor(std::ostream& out, std::function<void()> beforeLine = nullptr);

  void requestDidCreateTask(const std::shared_ptr<http::Request>& request,
                            const platform::TaskPtr& task) override;
  void requestDidGatherMetrics(const std::shared_ptr<http::Request>& request,
                               const platform::URLSessionTaskMetrics& metrics) override;
  void requestDidCompleteTaskWithError(const std::shared_ptr<http::Request>& request,
                                       const platform::TaskPtr& task,
                                       const std::optional<http::HTTPError>& error) override;
  void requestDidValidateRequestResponseDataWithResult(
      const std::shared_ptr<http::DataRequest>& request,
      const std::optional<platform::URLRequest>& urlRequest,
      const platform::HTTPURLResponse& response, const std::optional<platform::Data>& data,
      const http::ValidationResult& result) override;
  void requestDidValidateRequestResponseFileURLWithResult(
      const std::shared_ptr<http::DownloadRequest>& request,
      const std::optional<platform::URLRequest>& urlRequest,
      const platform::HTTPURLResponse& response, const std::optional<platform::URL>& fileURL,
      const http::ValidationResult& result) override;
  void requestIsRetrying(const std::shared_ptr<http::Request>& request) override;
  void requestDidFinish(const std::shared_ptr<http::Request>& request) override;

 private:
  void validationFailed(const http::Request& request,
                        const std::optional<platform::URLRequest>& urlRequest,
                        const http::ValidationResult& result);

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
