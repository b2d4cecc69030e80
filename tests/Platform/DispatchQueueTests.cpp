#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Platform/DispatchQueue.h"
#include "Platform/Protected.h"
#include "Support/WaitUntil.h"

namespace tolvane::platform {
namespace {

using namespace std::chrono_literals;

// Waits until `left` has counted down to zero, or a generous deadline passed.
bool counted(const std::atomic<int>& left) {
  return test::waitUntil([&] { return left.load() <= 0; });
}

// A lone serial queue is the root case of this one: its own order is checked too.
TEST(DispatchQueueTest, QueuesTargetingOneRootNeverOverlapAndKeepTheirOwnOrder) {
  auto root = DispatchQueue::make("test.root");
  auto a = DispatchQueue::make("test.root.a", root);
  auto b = DispatchQueue::make("test.root.a.b", a);  // a chain, not only direct targets
  const std::vector<std::shared_ptr<DispatchQueue>> queues{root, a, b};

  constexpr int kPerQueue = 200;
  std::atomic<int> active{0};
  std::atomic<int> maxActive{0};
  std::vector<std::vector<int>> order(queues.size());  // order[q] is only touched on the hierarchy
  std::atomic<int> left{kPerQueue * static_cast<int>(queues.size())};

  std::vector<std::thread> producers;
  for (std::size_t q = 0; q < queues.size(); ++q) {
    producers.emplace_back([&, q] {
      for (int i = 0; i < kPerQueue; ++i) {
        queues[q]->async([&, q, i] {
          const int now = ++active;
          int seenMax = maxActive.load();
          while (now > seenMax && !maxActive.compare_exchange_weak(seenMax, now)) {
          }
          if (i % 20 == 0) std::this_thread::sleep_for(200us);
          order[q].push_back(i);
          --active;
          --left;
        });
      }
    });
  }
  for (auto& t : producers) t.join();
  ASSERT_TRUE(counted(left));
  EXPECT_EQ(maxActive.load(), 1);
  for (std::size_t q = 0; q < queues.size(); ++q) {
    ASSERT_EQ(order[q].size(), static_cast<std::size_t>(kPerQueue));
    for (int i = 0; i < kPerQueue; ++i) ASSERT_EQ(order[q][i], i) << queues[q]->label();
  }
}

TEST(DispatchQueueTest, SeparateRootsRunConcurrently) {
  auto first = DispatchQueue::make("test.first");
  auto second = DispatchQueue::make("test.second");
  std::promise<void> secondRan;
  auto secondRanFuture = secondRan.get_future();
  std::promise<bool> firstSawSecond;
  // `first` blocks until `second` has run something: only possible with one worker per root.
  first->async(
      [&] { firstSawSecond.set_value(secondRanFuture.wait_for(5s) == std::future_status::ready); });
  second->async([&] { secondRan.set_value(); });
  EXPECT_TRUE(firstSawSecond.get_future().get());
}

TEST(DispatchQueueTest, AsyncAfterWaitsAtLeastTheDelayAndKeepsDeadlineOrder) {
  auto queue = DispatchQueue::make("test.after");
  const auto start = std::chrono::steady_clock::now();
  std::mutex mutex;
  std::vector<std::pair<char, std::chrono::steady_clock::duration>> fired;
  std::atomic<int> left{3};
  auto record = [&](char name) {
    return [&, name] {
      std::lock_guard guard(mutex);
      fired.emplace_back(name, std::chrono::steady_clock::now() - start);
      --left;
    };
  };
  queue->asyncAfter(300ms, record('c'));
  queue->asyncAfter(0.15, record('b'));
  queue->async(record('a'));
  ASSERT_TRUE(counted(left));

  std::lock_guard guard(mutex);
  ASSERT_EQ(fired.size(), 3u);
  EXPECT_EQ(std::string({fired[0].first, fired[1].first, fired[2].first}), "abc");
  EXPECT_GE(fired[1].second, 150ms);
  EXPECT_GE(fired[2].second, 300ms);
}

TEST(DispatchQueueTest, IsCurrentFollowsTheTargetChainUpwardsOnly) {
  auto root = DispatchQueue::make("test.root");
  auto middle = DispatchQueue::make("test.middle", root);
  auto leaf = DispatchQueue::make("test.leaf", middle);
  auto other = DispatchQueue::make("test.other");

  // Which of leaf, middle, root and other count as current for work running on `queue`.
  auto seenFrom = [&](const std::shared_ptr<DispatchQueue>& queue) {
    std::promise<std::vector<bool>> seen;
    queue->async([&] {
      seen.set_value(
          {leaf->isCurrent(), middle->isCurrent(), root->isCurrent(), other->isCurrent()});
    });
    return seen.get_future().get();
  };
  EXPECT_EQ(seenFrom(leaf), (std::vector<bool>{true, true, true, false}));
  EXPECT_EQ(seenFrom(root), (std::vector<bool>{false, false, true, false}));
  EXPECT_FALSE(root->isCurrent());
  EXPECT_FALSE(DispatchQueue::main()->isCurrent());
}

TEST(DispatchQueueTest, QueueReleasedByItsOwnWorkIsDestroyedCleanly) {
  auto root = DispatchQueue::make("test.self-release");
  auto child = DispatchQueue::make("test.self-release.child", root);
  std::weak_ptr<DispatchQueue> weakRoot = root;
  std::weak_ptr<DispatchQueue> weakChild = child;
  std::atomic<int> left{1};
  child->async([&] { --left; });
  // From here only the pending item keeps both queues alive; they die on the worker.
  root.reset();
  child.reset();
  ASSERT_TRUE(counted(left));
  EXPECT_TRUE(test::waitUntil([&] { return weakRoot.expired() && weakChild.expired(); }, 1s));
}

TEST(DispatchQueueTest, DelayedWorkKeepsItsQueueAlive) {
  std::weak_ptr<DispatchQueue> weak;
  std::atomic<int> left{1};
  {
    auto queue = DispatchQueue::make("test.delayed-owner");
    weak = queue;
    queue->asyncAfter(50ms, [&] { --left; });
  }
  EXPECT_FALSE(weak.expired());
  EXPECT_TRUE(counted(left));
}

TEST(DispatchQueueDeathTest, PreconditionsStopNamingTheQueue) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto queue = DispatchQueue::make("net.tolvane.test.guarded");
  EXPECT_DEATH(queue->dispatchPreconditionOnQueue(),
               "not running on queue \"net.tolvane.test.guarded\"");
  queue->dispatchPreconditionNotOnQueue("waiting");  // off the queue: nothing happens
  EXPECT_DEATH(
      {
        queue->async([queue] { queue->dispatchPreconditionNotOnQueue("waiting"); });
        std::this_thread::sleep_for(10s);
      },
      "waiting must not block queue \"net.tolvane.test.guarded\"");
}

TEST(MainRunLoopTest, RunUntilRunsMainWorkOnTheCallingThreadInOrder) {
  const auto self = std::this_thread::get_id();
  auto onMain = DispatchQueue::make("test.on-main", DispatchQueue::main());
  std::vector<int> order;  // only touched on the main queue
  bool ranOnCaller = true;
  bool mainWasCurrent = true;
  std::thread producer([&] {
    for (int i = 0; i < 50; ++i) {
      auto& queue = i % 2 == 0 ? DispatchQueue::main() : onMain;
      queue->async([&, i] {
        ranOnCaller = ranOnCaller && std::this_thread::get_id() == self;
        mainWasCurrent = mainWasCurrent && DispatchQueue::main()->isCurrent();
        order.push_back(i);
      });
    }
  });
  producer.join();
  ASSERT_TRUE(MainRunLoop::runUntil([&] { return order.size() == 50; }, 5000ms));
  EXPECT_TRUE(ranOnCaller);
  EXPECT_TRUE(mainWasCurrent);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
  EXPECT_FALSE(DispatchQueue::main()->isCurrent());
  EXPECT_FALSE(MainRunLoop::runUntil([] { return false; }, 10ms));  // gives up in the end
}

TEST(MainRunLoopTest, PosterReceivesMainWorkIncludingWorkQueuedBeforeIt) {
  std::vector<int> order;
  DispatchQueue::main()->async([&] { order.push_back(1); });
  std::mutex mutex;  // the delayed item is posted from the timer thread
  std::vector<std::function<void()>> posted;
  auto postedCount = [&] {
    std::lock_guard guard(mutex);
    return posted.size();
  };
  MainRunLoop::setPoster([&](std::function<void()> run) {
    std::lock_guard guard(mutex);
    posted.push_back(std::move(run));
  });
  DispatchQueue::main()->async([&] { order.push_back(2); });
  DispatchQueue::main()->asyncAfter(10ms, [&] { order.push_back(3); });
  test::waitUntil([&] { return postedCount() >= 3; }, 1s);
  MainRunLoop::setPoster(nullptr);
  std::lock_guard guard(mutex);
  ASSERT_EQ(posted.size(), 3u);
  EXPECT_TRUE(order.empty());
  for (auto& run : posted) run();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(MainRunLoopTest, RunServesMainWorkUntilStopped) {
  std::atomic<int> ran{0};
  DispatchQueue::main()->async([&] { ++ran; });
  DispatchQueue::main()->asyncAfter(20ms, [&] {
    ++ran;
    MainRunLoop::stop();
  });
  MainRunLoop::run();
  EXPECT_EQ(ran.load(), 2);
}

TEST(ProtectedTest, WritesFromManyThreadsAreNotLost) {
  Protected<std::vector<int>> values;
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < 5000; ++i) values.write([&](std::vector<int>& v) { v.push_back(t); });
    });
  }
  for (auto& w : writers) w.join();
  EXPECT_EQ(values.read([](const std::vector<int>& v) { return v.size(); }), 20000u);
}

}  // namespace
}  // namespace tolvane::platform
