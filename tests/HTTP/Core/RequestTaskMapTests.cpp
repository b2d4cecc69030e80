#include "HTTP/Core/RequestTaskMap.h"

#include <gtest/gtest.h>

#include "HTTP/Core/SessionDelegate.h"
#include "HTTP/Core/SessionTestSupport.h"

namespace tolvane::test {
namespace {

using http::DataRequest;
using http::Request;
using http::RequestTaskMap;

// Tasks that are made but never started, so the transport never reports on them.
struct Parked {
  std::shared_ptr<platform::DispatchQueue> queue = platform::DispatchQueue::make("test.parked");
  std::shared_ptr<platform::URLSession> transport =
      platform::URLSession::make(platform::URLSessionConfiguration::defaultConfiguration(),
                                 std::make_shared<platform::URLSessionDelegate>(), queue);

  platform::TaskPtr task() {
    return transport->dataTask(platform::URLRequest(platform::URL::parse("http://127.0.0.1:9/")));
  }
  std::shared_ptr<DataRequest> request() {
    return DataRequest::make(
        std::make_shared<http::URLRequestValue>(platform::URLRequest()),
        Request::Context{platform::UUID(), queue, queue, nullptr, nullptr, {}});
  }
};

TEST(RequestTaskMapTest, ATaskLeavesOnlyOnceBothFinalEventsAreIn) {
  Parked parked;
  RequestTaskMap map;
  auto request = parked.request();
  auto first = parked.task();
  auto second = parked.task();
  map.add(request, first);
  EXPECT_EQ(map.request(*first), request);
  EXPECT_EQ(map.task(*request), first);

  EXPECT_FALSE(map.recordMetrics(*first));
  EXPECT_EQ(map.count(), 1u);
  EXPECT_TRUE(map.recordCompletion(*first));
  EXPECT_TRUE(map.isEmpty());
  EXPECT_EQ(map.eventsCount(), 0u);
  EXPECT_FALSE(map.task(*request));

  map.add(request, second);
  EXPECT_FALSE(map.recordCompletion(*second));
  EXPECT_EQ(map.request(*second), request);
  EXPECT_TRUE(map.recordMetrics(*second));
  EXPECT_FALSE(map.request(*second));
}

TEST(RequestTaskMapDeathTest, InconsistentEventsStopTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto mapped = [](auto&& body) {
    Parked parked;
    RequestTaskMap map;
    auto task = parked.task();
    map.add(parked.request(), task);
    body(map, *task);
  };
  EXPECT_DEATH(mapped([](RequestTaskMap& map, auto& task) {
                 (void)map.recordCompletion(task);
                 (void)map.recordCompletion(task);
               }),
               "RequestTaskMap consistency error: duplicate completionReceivedForTask call\\.");
  EXPECT_DEATH(mapped([](RequestTaskMap& map, auto&) {
                 Parked other;
                 (void)map.recordMetrics(*other.task());
               }),
               "RequestTaskMap consistency error: no events corresponding to task found\\.");
}

// A data request whose task comes from a transport that never reports to the session, so
// the test can play the transport's final events itself, in either order.
class ParkedTaskRequest final : public DataRequest {
 public:
  ParkedTaskRequest(std::shared_ptr<Parked> parked,
                    std::shared_ptr<const http::URLRequestConvertible> convertible, Context context)
      : DataRequest(std::move(convertible), std::move(context)), parked_(std::move(parked)) {}
  platform::TaskPtr makeTask(http::RequestKey, const platform::URLRequest&,
                             platform::URLSession&) override {
    return parked_->task();
  }

 private:
  std::shared_ptr<Parked> parked_;
};

// The transport may report completion before metrics; the request still hears of the
// completion once, after the metrics. (Both orders at the map itself: above.)
TEST(TaskEventsTest, ACompletionBeforeTheMetricsReachesTheRequestAfterThem) {
  auto monitor = std::make_shared<RecordingMonitor>();
  http::SessionSettings settings;
  settings.startRequestsImmediately = false;
  auto session = makeSession(monitor, settings);
  auto request = std::make_shared<ParkedTaskRequest>(
      std::make_shared<Parked>(),
      std::make_shared<http::URLRequestValue>(
          platform::URLRequest(platform::URL::parse("http://127.0.0.1:9/"))),
      session->requestContext(nullptr));
  session->perform(request);
  ResponseCollector responses;
  responses.attach(request);
  ASSERT_TRUE(monitor->waitFor("requestDidCreateTask"));
  const auto task = request->lastTask();
  auto& delegate = *session->delegate();
  auto& transport = *session->session();
  EXPECT_EQ(onQueue(session->rootQueue(),
                    [&] {
                      delegate.didCompleteWithError(transport, task, nullptr);
                      return session->requestTaskMap().count();
                    }),
            1u);
  EXPECT_EQ(onQueue(session->rootQueue(),
                    [&] { return monitor->count("requestDidCompleteTaskWithError"); }),
            0u);
  EXPECT_EQ(onQueue(session->rootQueue(),
                    [&] {
                      delegate.didFinishCollectingMetrics(transport, task, {});
                      return session->requestTaskMap().count();
                    }),
            0u);
  EXPECT_FALSE(responses.wait().error.has_value());
  ASSERT_TRUE(monitor->waitFor("requestDidFinish"));
  EXPECT_EQ(monitor->count("requestDidCompleteTaskWithError"), 1u);
  EXPECT_EQ(request->allMetrics().size(), 1u);
  const auto events = monitor->events();
  EXPECT_LT(std::find(events.begin(), events.end(), "requestDidGatherMetrics"),
            std::find(events.begin(), events.end(), "requestDidCompleteTaskWithError"));
}

}  // namespace
}  // namespace tolvane::test
