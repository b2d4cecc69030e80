#include "App/TraceEventMonitor.h"

#include <utility>

#include "HTTP/Core/DataRequest.h"
#include "HTTP/Core/DownloadRequest.h"
#include "HTTP/Core/Request.h"
#include "HTTP/Response/ResponseFailures.h"

namespace tolvane {

TraceEventMonitor::TraceEventMonitor(std::ostream& out, std::function<void()> beforeLine)
    : out_(out), beforeLine_(std::move(beforeLine)) {}

void TraceEventMonitor::requestDidCreateTask(const std::shared_ptr<http::Request>& request,
                                             const platform::TaskPtr& /*task*/) {
  Attempt& attempt = attempts_[request->id()];
  // A retry has already counted itself in requestIsRetrying; a first attempt starts at 1.
  if (attempt.number == 0) attempt.number = 1;
  attempt.created = std::chrono::steady_clock::now();
  attempt.duration.reset();
}

void TraceEventMonitor::requestDidGatherMetrics(const std::shared_ptr<http::Request>& request,
                                                const platform::URLSessionTaskMetrics& metrics) {
  const auto found = attempts_.find(request->id());
  if (found != attempts_.end()) found->second.duration = metrics.taskIntervalDuration;
}

void TraceEventMonitor::requestDidCompleteTaskWithError(
    const std::shared_ptr<http::Request>& request, const platform::TaskPtr& task,
    const std::optional<http::HTTPError>& error) {
  const auto found = attempts_.find(request->id());
  if (found == attempts_.end()) return;
  const Attempt& attempt = found->second;
  const auto elapsed =
      attempt.duration.value_or(std::chrono::steady_clock::now() - attempt.created);
  const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();

  std::string method = "?";
  std::string url = "?";
  if (const auto urlRequest = task ? task->originalRequest() : std::nullopt) {
    method = urlRequest->httpMethod;
    if (urlRequest->url) url = urlRequest->url->absoluteString();
  }
  const auto response = task ? task->response() : nullptr;

  if (beforeLine_) beforeLine_();
  out_ << "HTTP " << method << ' ' << url << " attempt " << attempt.number << ": ";
  if (response) {
    out_ << response->statusCode;
  } else {
    out_ << "no response";
  }
  if (error) out_ << " (" << error->localizedDescription() << ')';
  out_ << " in " << milliseconds << " ms" << std::endl;
}

void TraceEventMonitor::requestDidValidateRequestResponseDataWithResult(
    const std::shared_ptr<http::DataRequest>& request,
    const std::optional<platform::URLRequest>& urlRequest,
    const platform::HTTPURLResponse& /*response*/, const std::optional<platform::Data>& /*data*/,
    const http::ValidationResult& result) {
  validationFailed(*request, urlRequest, result);
}

void TraceEventMonitor::requestDidValidateRequestResponseFileURLWithResult(
    const std::shared_ptr<http::DownloadRequest>& request,
    const std::optional<platform::URLRequest>& urlRequest,
    const platform::HTTPURLResponse& /*response*/, const std::optional<platform::URL>& /*fileURL*/,
    const http::ValidationResult& result) {
  validationFailed(*request, urlRequest, result);
}

void TraceEventMonitor::validationFailed(const http::Request& request,
                                         const std::optional<platform::URLRequest>& urlRequest,
                                         const http::ValidationResult& result) {
  if (result.isSuccess()) return;
  const auto found = attempts_.find(request.id());
  const int number = found == attempts_.end() ? 1 : found->second.number;
  // The stored error is what the caller will see; the validator's own error is its cause.
  const auto error = http::asHTTPError(
      result.error(), [&] { return http::failures::customValidationFailed(result.error()); });
  if (beforeLine_) beforeLine_();
  out_ << "HTTP " << (urlRequest ? urlRequest->httpMethod : std::string("?")) << ' '
       << (urlRequest && urlRequest->url ? urlRequest->url->absoluteString() : std::string("?"))
       << " attempt " << number << ": validation failed (" << error.localizedDescription() << ')'
       << std::endl;
}

void TraceEventMonitor::requestIsRetrying(const std::shared_ptr<http::Request>& request) {
  ++attempts_[request->id()].number;
}

void TraceEventMonitor::requestDidFinish(const std::shared_ptr<http::Request>& request) {
  attempts_.erase(request->id());
}

}  // namespace tolvane
