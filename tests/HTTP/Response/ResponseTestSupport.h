#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "HTTP/Core/Session.h"
#include "HTTP/Core/SessionTestSupport.h"
#include "Support/LoopbackServer.h"
#include "Support/TestCertificate.h"

namespace tolvane::test {

// A session that trusts the loopback servers' test certificate authority.
inline std::shared_ptr<http::Session> makeTrustingSession(
    std::vector<std::shared_ptr<http::EventMonitor>> monitors = {}) {
  auto configuration = http::Session::defaultConfiguration();
  configuration.additionalCAFile = TestCertificate::shared().caFile();
  http::SessionSettings settings;
  settings.eventMonitors = std::move(monitors);
  return http::Session::make(configuration, nullptr, nullptr, std::move(settings));
}

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

}  // namespace tolvane::test
