#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "HTTP/Core/DataRequest.h"
#include "HTTP/Core/EventMonitor.h"
#include "HTTP/Core/Session.h"
#include "HTTP/Response/ResponseHandlers.h"
#include "HTTP/Response/Validation.h"
#include "Platform/DispatchQueue.h"
#include "Platform/Protected.h"
#include "Support/LoopbackServer.h"
#include "Support/TestCertificate.h"
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

#define TOLVANE_RECORD_TRANSPORT_EVENT(name, parameters, arguments)               \
  void name(platform::URLSession& session, TOLVANE_UNPAREN parameters) override { \
    record(#name, session, TOLVANE_UNPAREN arguments);                            \
  }
#define TOLVANE_RECORD_REQUEST_EVENT(name, parameters, arguments) \
  void name parameters override { record(#name, TOLVANE_UNPAREN arguments); }
  TOLVANE_TRANSPORT_EVENTS(TOLVANE_RECORD_TRANSPORT_EVENT)
  TOLVANE_REQUEST_EVENTS(TOLVANE_RECORD_REQUEST_EVENT)
#undef TOLVANE_RECORD_TRANSPORT_EVENT
#undef TOLVANE_RECORD_REQUEST_EVENT

 private:
  // A failed validation is recorded as "(failure)" after the name. Bodies may arrive in any
  // number of chunks; one entry stands for a run of them.
  template <typename... Arguments>
  void record(const char* name, const Arguments&... arguments) {
    std::string entry = name;
    ((entry += failureMark(arguments)), ...);
    events_.write([&](auto& list) {
      if (entry == "dataTaskDidReceiveData" && !list.empty() && list.back() == entry) return;
      list.push_back(entry);
    });
  }
  static const char* failureMark(const http::ValidationResult& result) {
    return result.isSuccess() ? "" : "(failure)";
  }
  template <typename Other>
  static const char* failureMark(const Other& /*other*/) {
    return "";
  }

  std::shared_ptr<platform::DispatchQueue> queue_;
  platform::Protected<std::vector<std::string>> events_;
};

// Collects what a response handler delivers, on a queue of its own.
template <typename Response>
class Delivered {
 public:
  [[nodiscard]] std::shared_ptr<platform::DispatchQueue> queue() const { return queue_; }
  [[nodiscard]] std::function<void(const Response&)> handler() {
    return [list = list_](const Response& response) {
      list->write([&](auto& all) { all.push_back(response); });
    };
  }
  [[nodiscard]] std::size_t count() const {
    return list_->read([](const auto& all) { return all.size(); });
  }
  // Waits for the first delivery and returns it (fails the test when none comes).
  Response wait() {
    if (!waitUntil([&] { return count() > 0; })) throw std::runtime_error("no response delivered");
    return list_->read([](const auto& all) { return all.front(); });
  }

 private:
  std::shared_ptr<platform::DispatchQueue> queue_ = platform::DispatchQueue::make("test.delivered");
  std::shared_ptr<platform::Protected<std::vector<Response>>> list_ =
      std::make_shared<platform::Protected<std::vector<Response>>>();
};

// Collects the plain responses a data request delivers.
struct ResponseCollector : Delivered<http::DataResponse<std::optional<platform::Data>>> {
  void attach(const std::shared_ptr<http::DataRequest>& request) {
    http::response(request, queue(), handler());
  }
};

// An error that is not the layer's own.
class PlainError final : public platform::Error {
 public:
  explicit PlainError(std::string text) : text_(std::move(text)) {}
  [[nodiscard]] std::string localizedDescription() const override { return text_; }

 private:
  std::string text_;
};

// A session that trusts the loopback servers' test certificate authority.
inline std::shared_ptr<http::Session> makeTrustingSession(
    std::vector<std::shared_ptr<http::EventMonitor>> monitors = {}) {
  auto configuration = http::Session::defaultConfiguration();
  configuration.additionalCAFile = TestCertificate::shared().caFile();
  http::SessionSettings settings;
  settings.eventMonitors = std::move(monitors);
  return http::Session::make(configuration, nullptr, nullptr, std::move(settings));
}

// A session with a recording monitor and no other; `settings` may add more.
inline std::shared_ptr<http::Session> makeSession(const std::shared_ptr<RecordingMonitor>& monitor,
                                                  http::SessionSettings settings = {}) {
  settings.eventMonitors = std::vector<std::shared_ptr<http::EventMonitor>>{monitor};
  return http::Session::make(std::nullopt, nullptr, nullptr, std::move(settings));
}

// Marks the request failed when the status is not 2xx.
inline void failOnErrorStatus(const std::shared_ptr<http::DataRequest>& request) {
  http::validate(request, std::function<bool(int)>([](int code) { return code / 100 == 2; }));
}

}  // namespace tolvane::test
