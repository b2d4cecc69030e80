#include "HTTP/Core/Request.h"

#include <gtest/gtest.h>

#include "HTTP/Core/SessionTestSupport.h"

namespace tolvane::test {
namespace {

using http::Request;
using http::RetryResult;

// Answers every retry question with an error that is not the layer's own, which a session
// never does.
class UnwrappedErrorDelegate final : public http::RequestDelegate {
 public:
  const platform::URLSessionConfiguration& sessionConfiguration() const override {
    return configuration_;
  }
  bool startImmediately() const override { return false; }
  void cleanup(const std::shared_ptr<Request>&) override {}
  void retryResult(const std::shared_ptr<Request>&, const http::HTTPError&,
                   std::function<void(RetryResult)> completion) override {
    completion(RetryResult::doNotRetryWithError(platform::makeError(PlainError("raw"))));
  }
  void scheduleRetry(const std::shared_ptr<Request>&, std::optional<double>) override {}

 private:
  platform::URLSessionConfiguration configuration_;
};

TEST(RequestDeathTest, FixedMessageStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto queue = platform::DispatchQueue::make("test.request");
  auto context = [&](std::weak_ptr<http::RequestDelegate> delegate = {}) {
    return Request::Context{platform::UUID(), queue, queue, nullptr, nullptr, std::move(delegate)};
  };
  EXPECT_DEATH(
      {
        auto transport =
            platform::URLSession::make(platform::URLSessionConfiguration::defaultConfiguration(),
                                       std::make_shared<platform::URLSessionDelegate>(), queue);
        auto request = std::make_shared<Request>(context());
        (void)request->makeTask(platform::URLRequest(), *transport);
      },
      "Subclasses must override\\.");
  EXPECT_DEATH(
      {
        auto delegate = std::make_shared<UnwrappedErrorDelegate>();
        auto request = std::make_shared<Request>(context(delegate));
        onQueue(queue, [&] {
          request->retryOrFinish(http::HTTPError::explicitlyCancelled());
          return 0;
        });
      },
      "Received retryError was not already HTTPError");
  EXPECT_DEATH(
      {
        auto request = std::make_shared<Request>(context());
        request->didResume();
      },
      "test\\.request");
}

TEST(DataRequestTest, ABodylessResponseKeepsNoBodyAndProgressFollowsTheBody) {
  LoopbackServer server(LoopbackServer::plainHTTP());
  server.get("/empty", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
  server.dripFeed("/drip", 3000, 1000, 20ms);
  server.start();
  auto monitor = std::make_shared<RecordingMonitor>();
  auto session = makeSession(monitor);

  ResponseCollector empty;
  auto bodyless = session->request(server.url("/empty"));
  empty.attach(bodyless);
  auto response = empty.wait();
  EXPECT_FALSE(response.error.has_value());
  EXPECT_FALSE(response.data.has_value());
  EXPECT_FALSE(bodyless->data().has_value());

  ResponseCollector dripped;
  auto request = session->request(server.url("/drip"));
  auto seen =
      std::make_shared<platform::Protected<std::vector<std::pair<std::int64_t, std::int64_t>>>>();
  request->downloadProgress(
      platform::DispatchQueue::make("test.progress"), [seen](const Request::Progress& progress) {
        seen->write([&](auto& list) {
          list.emplace_back(progress.completedUnitCount(), progress.totalUnitCount());
        });
      });
  dripped.attach(request);
  EXPECT_EQ(dripped.wait().data->size(), 3000u);
  ASSERT_TRUE(waitUntil([&] {
    return seen->read([](const auto& l) { return !l.empty() && l.back().first == 3000; });
  }));
  for (const auto& [completed, total] : seen->get()) EXPECT_EQ(total, 3000);
  EXPECT_EQ(request->downloadProgress()->fractionCompleted(), 1.0);
}

}  // namespace
}  // namespace tolvane::test
