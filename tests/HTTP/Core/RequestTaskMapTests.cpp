#include "HTTP/Core/RequestTaskMap.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tolvane::test
