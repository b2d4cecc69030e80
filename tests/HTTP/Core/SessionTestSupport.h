#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "HTTP/Core/DataRequest.h"
#include "HTTP/Core/EventMonitor.h"
#include "HTTP/Core/Session.h"
#include "Platform/DispatchQueue.h"
#include "Platform/Protected.h"
#include "Support/LoopbackServer.h"
#include "Support/WaitUntil.h"

namespace tolvane::test {

using namespace std::chrono_literals;

// Runs `body` on `queue` and waits for it.
template <typename Body>
auto onQueue(const std::shared_ptr<platform::DispatchQueue>& queue, Body body) {
  std::packaged_task<decltype(body())()> task(std::move(body));
  auto future = task.get_future();
  queue->async([&task] { task(); });
  return future.get();
}

// Holds a queue busy until released, so a test can act before queued work runs.
class QueueBlocker {
 public:
  explicit QueueBlocker(const std::shared_ptr<platform::DispatchQueue>& queue) {
    auto entered = std::make_shared<std::promise<void>>();
    queue->async([state = state_, entered] {
      entered->set_value();
      std::unique_lock lock(state->mutex);
      state->released.wait(lock, [&] { return state->open; });
    });
    entered->get_future().wait();
  }
  ~QueueBlocker() { release(); }
  void release() {
    std::lock_guard lock(state_->mutex);
    state_->open = true;
    state_->released.notify_all();
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable released;
    bool open = false;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Records the names of the events it receives, in arrival order, on a queue of its own.
class RecordingMonitor final : public http::EventMonitor {
 public:
  explicit RecordingMonitor(std::shared_ptr<platform::DispatchQueue> queue =
                                platform::DispatchQueue::make("test.recordingMonitor"))
      : queue_(std::move(queue)) {}

  [[nodiscard]] std::shared_ptr<platform::DispatchQueue> queue() const override { return queue_; }

  [[nodiscard]] std::vector<std::string> events() const { return events_.get(); }
  [[nodiscard]] std::size_t count(const std::string& name) const {
    return events_.read(
        [&](const auto& list) { return std::count(list.begin(), list.end(), name); });
  }
  bool waitFor(const std::string& name, std::size_t times = 1) {
    return waitUntil([&] { return count(name) >= times; });
  }

  void taskDidFinishCollectingMetrics(platform::URLSession&, const platform::TaskPtr&,
                                      const platform::URLSessionTaskMetrics&) override {
    add("taskDidFinishCollectingMetrics");
  }
  void taskDidComplete(platform::URLSession&, const platform::TaskPtr&,
                       const platform::ErrorPtr&) override {
    add("taskDidComplete");
  }
  void dataTaskDidReceiveResponse(platform::URLSession&, const platform::TaskPtr&,
                                  const platform::HTTPURLResponse&) override {
    add("dataTaskDidReceiveResponse");
  }
  void dataTaskDidReceiveData(platform::URLSession&, const platform::TaskPtr&,
                              const platform::Data&) override {
    // Bodies may arrive in any number of chunks; one entry stands for a run of them.
    events_.write([](auto& list) {
      if (list.empty() || list.back() != "dataTaskDidReceiveData")
        list.emplace_back("dataTaskDidReceiveData");
    });
  }
  void requestDidCreateInitialURLRequest(const std::shared_ptr<http::Request>&,
                                         const platform::URLRequest&) override {
    add("requestDidCreateInitialURLRequest");
  }
  void requestDidFailToCreateURLRequestWithError(const std::shared_ptr<http::Request>&,
                                                 const http::HTTPError&) override {
    add("requestDidFailToCreateURLRequestWithError");
  }
  void requestDidAdaptInitialRequestToAdaptedRequest(const std::shared_ptr<http::Request>&,
                                                     const platform::URLRequest&,
                                                     const platform::URLRequest&) override {
    add("requestDidAdaptInitialRequestToAdaptedRequest");
  }
  void requestDidCreateURLRequest(const std::shared_ptr<http::Request>&,
                                  const platform::URLRequest&) override {
    add("requestDidCreateURLRequest");
  }
  void requestDidCreateTask(const std::shared_ptr<http::Request>&,
                            const platform::TaskPtr&) override {
    add("requestDidCreateTask");
  }
  void requestDidGatherMetrics(const std::shared_ptr<http::Request>&,
                               const platform::URLSessionTaskMetrics&) override {
    add("requestDidGatherMetrics");
  }
  void requestDidCompleteTaskWithError(const std::shared_ptr<http::Request>&,
                                       const platform::TaskPtr&,
                                       const std::optional<http::HTTPError>&) override {
    add("requestDidCompleteTaskWithError");
  }
  void requestIsRetrying(const std::shared_ptr<http::Request>&) override {
    add("requestIsRetrying");
  }
  void requestDidFinish(const std::shared_ptr<http::Request>&) override { add("requestDidFinish"); }
  void requestDidResume(const std::shared_ptr<http::Request>&) override { add("requestDidResume"); }
  void requestDidResumeTask(const std::shared_ptr<http::Request>&,
                            const platform::TaskPtr&) override {
    add("requestDidResumeTask");
  }
  void requestDidSuspend(const std::shared_ptr<http::Request>&) override {
    add("requestDidSuspend");
  }
  void requestDidCancel(const std::shared_ptr<http::Request>&) override { add("requestDidCancel"); }
  void requestDidCancelTask(const std::shared_ptr<http::Request>&,
                            const platform::TaskPtr&) override {
    add("requestDidCancelTask");
  }
  void requestDidValidateRequestResponseDataWithResult(
      const std::shared_ptr<http::DataRequest>&, const std::optional<platform::URLRequest>&,
      const platform::HTTPURLResponse&, const std::optional<platform::Data>&,
      const http::ValidationResult& result) override {
    add(result.isSuccess() ? "requestDidValidateRequestResponseDataWithResult"
                           : "requestDidValidateRequestResponseDataWithResult(failure)");
  }
  void requestDidValidateRequestResponseFileURLWithResult(
      const std::shared_ptr<http::DownloadRequest>&, const std::optional<platform::URLRequest>&,
      const platform::HTTPURLResponse&, const std::optional<platform::URL>&,
      const http::ValidationResult& result) override {
    add(result.isSuccess() ? "requestDidValidateRequestResponseFileURLWithResult"
                           : "requestDidValidateRequestResponseFileURLWithResult(failure)");
  }
  void requestDidParseResponse(const std::shared_ptr<http::DataRequest>&,
                               const http::DataResponse<std::any>&) override {
    add("requestDidParseResponse");
  }
  void requestDidParseDownloadResponse(const std::shared_ptr<http::DownloadRequest>&,
                                       const http::DownloadResponse<std::any>&) override {
    add("requestDidParseDownloadResponse");
  }
  void requestDidCreateDestinationURL(const std::shared_ptr<http::DownloadRequest>&,
                                      const platform::URL&) override {
    add("requestDidCreateDestinationURL");
  }
  void requestDidFinishDownloadingUsingTaskWithResult(const std::shared_ptr<http::DownloadRequest>&,
                                                      const platform::TaskPtr&,
                                                      const http::Result<platform::URL>&) override {
    add("requestDidFinishDownloadingUsingTaskWithResult");
  }

 private:
  void add(const char* name) {
    events_.write([&](auto& list) { list.emplace_back(name); });
  }

  std::shared_ptr<platform::DispatchQueue> queue_;
  platform::Protected<std::vector<std::string>> events_;
};

// Collects the responses a request delivers, counting deliveries.
class ResponseCollector {
 public:
  using Response = http::DataRequest::UnserializedResponse;

  void attach(const std::shared_ptr<http::DataRequest>& request) {
    request->response(queue_, [this](const Response& response) {
      responses_.write([&](auto& list) { list.push_back(response); });
    });
  }
  [[nodiscard]] std::size_t count() const {
    return responses_.read([](const auto& list) { return list.size(); });
  }
  // Waits for the first delivery and returns it.
  Response wait() {
    EXPECT_TRUE(waitUntil([&] { return count() > 0; })) << "no response delivered";
    return responses_.read(
        [](const auto& list) { return list.empty() ? Response{} : list.front(); });
  }

 private:
  std::shared_ptr<platform::DispatchQueue> queue_ = platform::DispatchQueue::make("test.responses");
  platform::Protected<std::vector<Response>> responses_;
};

// An error that is not the layer's own.
class PlainError final : public platform::Error {
 public:
  explicit PlainError(std::string text) : text_(std::move(text)) {}
  [[nodiscard]] std::string localizedDescription() const override { return text_; }

 private:
  std::string text_;
};

// A session with a recording monitor and no other; `settings` may add more.
inline std::shared_ptr<http::Session> makeSession(const std::shared_ptr<RecordingMonitor>& monitor,
                                                  http::SessionSettings settings = {}) {
  settings.eventMonitors = std::vector<std::shared_ptr<http::EventMonitor>>{monitor};
  return http::Session::make(std::nullopt, nullptr, nullptr, std::move(settings));
}

// Marks the request failed when the status is not 2xx, the way status validation does.
inline void failOnErrorStatus(const std::shared_ptr<http::Request>& request) {
  std::weak_ptr<http::Request> weak = request;
  request->addValidator([weak] {
    auto self = weak.lock();
    if (!self || self->error()) return;
    auto response = self->response();
    if (!response || (response->statusCode >= 200 && response->statusCode < 300)) return;
    http::HTTPError::ResponseValidationFailureReason reason{};
    reason.kind = http::HTTPError::ResponseValidationFailureReason::Kind::unacceptableStatusCode;
    reason.code = response->statusCode;
    self->setError(http::HTTPError::responseValidationFailed(reason));
  });
}

}  // namespace tolvane::test
