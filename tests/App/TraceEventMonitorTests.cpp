#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <regex>
#include <sstream>
#include <string>

#include "App/TraceEventMonitor.h"
#include "HTTP/Core/DataRequest.h"
#include "HTTP/Core/RequestInterceptor.h"
#include "HTTP/Core/Session.h"
#include "HTTP/Response/ResponseHandlers.h"
#include "HTTP/Response/Validation.h"
#include "Platform/DispatchQueue.h"
#include "Support/LoopbackServer.h"

namespace tolvane::test {
namespace {

using namespace std::chrono_literals;

// Retries every failure at once until the request has been retried `limit` times.
class ImmediateRetrier final : public http::RequestInterceptor {
 public:
  explicit ImmediateRetrier(int limit) : limit_(limit) {}
  void retry(const std::shared_ptr<http::Request>& request,
             const std::shared_ptr<http::Session>& /*session*/, const http::HTTPError& /*error*/,
             http::RequestRetrier::Completion completion) override {
    completion(request->retryCount() < limit_ ? http::RetryResult::retry()
                                              : http::RetryResult::doNotRetry());
  }

 private:
  const int limit_;
};

class TraceTest : public ::testing::Test {
 protected:
  TraceTest() {
    server_.serveBody("/hello", "hello", "text/plain");
    http::SessionSettings settings;
    settings.eventMonitors = std::vector<std::shared_ptr<http::EventMonitor>>{trace_};
    session_ = http::Session::make(std::nullopt, nullptr, nullptr, std::move(settings));
  }

  // Sends one GET (validated by default) and runs the main queue (where the monitor's events
  // arrive) until the request has finished and its lines are written.
  void fetch(const std::string& url,
             std::shared_ptr<http::RequestInterceptor> interceptor = nullptr) {
    bool done = false;
    auto request = session_->request(http::URLConvertible(url), http::HTTPMethod::get, std::nullopt,
                                     nullptr, std::nullopt, std::move(interceptor));
    http::response(http::validate(request), platform::DispatchQueue::main(),
                   [&done](const auto&) { done = true; });
    ASSERT_TRUE(platform::MainRunLoop::runUntil([&] { return done; }, 10s));
    // The completion and the monitor's last events travel separately to the main queue.
    platform::MainRunLoop::runUntil([] { return false; }, 50ms);
  }

  std::ostringstream out_;
  int cleared_ = 0;  // lines announced to the terminal (main queue)
  std::shared_ptr<TraceEventMonitor> trace_ =
      std::make_shared<TraceEventMonitor>(out_, [this] { ++cleared_; });
  LoopbackServer server_{LoopbackServer::plainHTTP()};
  std::shared_ptr<http::Session> session_;
};

// One line per attempt: method, URL, attempt number, status or failure, duration.
TEST_F(TraceTest, OneLinePerAttempt) {
  const std::string good = server_.url("/hello");
  const std::string refused =
      "http://127.0.0.1:" + std::to_string(LoopbackServer::refusedPort()) + "/manifest";
  fetch(good);
  fetch(refused, std::make_shared<ImmediateRetrier>(2));

  const auto quoted = [](const std::string& url) {
    return std::regex_replace(url, std::regex(R"([.?])"), R"(\$&)");
  };
  std::string expected = "HTTP GET " + quoted(good) + R"( attempt 1: 200 in \d+ ms\n)";
  for (const char* attempt : {"1", "2", "3"}) {
    expected += "HTTP GET " + quoted(refused) + " attempt " + attempt +
                R"(: no response \(.+\) in \d+ ms\n)";
  }
  EXPECT_TRUE(std::regex_match(out_.str(), std::regex(expected))) << out_.str();
}

// A refused answer gets a line of its own, which (like every line) first clears whatever the
// terminal shows, such as a progress line.
TEST_F(TraceTest, ValidationFailureHasALineOfItsOwn) {
  server_.get("/missing",
              [](const httplib::Request&, httplib::Response& response) { response.status = 404; });
  const std::string url = server_.url("/missing");
  fetch(url);

  const std::string quoted = std::regex_replace(url, std::regex(R"([.?])"), R"(\$&)");
  // The validators run before the transfer's end is reported.
  EXPECT_TRUE(std::regex_match(
      out_.str(), std::regex("HTTP GET " + quoted +
                             R"( attempt 1: validation failed \(Response status code was )"
                             R"(unacceptable: 404\.\)\nHTTP GET )" +
                             quoted + R"( attempt 1: 404 in \d+ ms\n)")))
      << out_.str();
  EXPECT_EQ(cleared_, 2);
}

}  // namespace
}  // namespace tolvane::test
