#include "Platform/DispatchQueue.h"

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <thread>
#include <vector>

#include "Platform/Fatal.h"
#include "Platform/OperatingSystem.h"
#include "Platform/UnfairLock.h"

namespace tolvane::platform {
namespace {

// Queues whose work is running on this thread, innermost last. A queue's work never
// nests another queue's work today, but keeping a stack makes that safe if it ever does.
thread_local std::vector<const DispatchQueue*> tCurrentQueues;

struct CurrentQueueScope {
  explicit CurrentQueueScope(const DispatchQueue* queue) { tCurrentQueues.push_back(queue); }
  ~CurrentQueueScope() { tCurrentQueues.pop_back(); }
  CurrentQueueScope(const CurrentQueueScope&) = delete;
  CurrentQueueScope& operator=(const CurrentQueueScope&) = delete;
};

// A work item together with the queue it was submitted to; holding the queue keeps it
// (and its whole target chain) alive while the work is pending.
struct Item {
  std::shared_ptr<DispatchQueue> queue;
  DispatchQueue::Work work;
};

void runItem(Item& item) {
  CurrentQueueScope scope(item.queue.get());
  item.work();
}

// Runs the items of one queue hierarchy one at a time, in submission order. Because every
// queue of the hierarchy feeds the same FIFO, each queue keeps its own order and no two
// items of the hierarchy ever overlap.
class Scheduler {
 public:
  virtual ~Scheduler() = default;
  virtual void submit(Item item) = 0;
};

// One worker thread per root queue, started on demand and ended after a short idle spell.
// The thread is detached and owns the scheduler through a shared_ptr, so a root queue
// whose last reference is dropped by its own work never has to join itself.
class ThreadScheduler final : public Scheduler,
                              public std::enable_shared_from_this<ThreadScheduler> {
 public:
  explicit ThreadScheduler(std::string label) : label_(std::move(label)) {}

  void submit(Item item) override {
    UnfairLock::Locker locker(lock_);
    items_.push_back(std::move(item));
    queued_.store(true, std::memory_order_release);
    if (running_) {
      wake_.notify_one();
      return;
    }
    running_ = true;
    std::thread(&ThreadScheduler::work, shared_from_this()).detach();
  }

  // The root queue is gone: an idle worker may stop at once.
  void close() {
    UnfairLock::Locker locker(lock_);
    closed_ = true;
    wake_.notify_one();
  }

 private:
  static constexpr auto kIdleTime = std::chrono::milliseconds(250);
  static constexpr auto kSpinTime = std::chrono::microseconds(200);

  void work() {
    os::nameCurrentThread(label_);

    UnfairLock::Locker locker(lock_);
    for (;;) {
      if (items_.empty()) {
        queued_.store(false, std::memory_order_relaxed);
        // Work often comes back within microseconds (the answer to what this item just
        // handed another thread). Waiting for it awake spares both sides the far dearer
        // sleep and wake-up; yielding keeps the spin from taking a core others need.
        locker.unlock();
        const auto spinUntil = std::chrono::steady_clock::now() + kSpinTime;
        while (!queued_.load(std::memory_order_acquire) &&
               std::chrono::steady_clock::now() < spinUntil) {
          std::this_thread::yield();
        }
        locker.lock();
      }
      if (items_.empty()) {
        const auto idleUntil = std::chrono::steady_clock::now() + kIdleTime;
        while (items_.empty() && !closed_ && lock_.waitUntil(wake_, idleUntil)) {
        }
        if (items_.empty()) {
          running_ = false;
          return;
        }
      }
      {
        Item item = std::move(items_.front());
        items_.pop_front();
        locker.unlock();
        runItem(item);
        // `item` dies here, before the lock is taken again: dropping the last reference to
        // a queue runs its destructor, which may call close().
      }
      locker.lock();
    }
  }

  const std::string label_;
  UnfairLock lock_;
  std::condition_variable wake_;
  std::deque<Item> items_ TOLVANE_GUARDED_BY(lock_);
  bool running_ TOLVANE_GUARDED_BY(lock_) = false;
  bool closed_ TOLVANE_GUARDED_BY(lock_) = false;
  // Mirrors !items_.empty() for the spin, which looks without the lock.
  std::atomic<bool> queued_{false};
};

// The main thread's queue: items wait here until the GUI loop (through the poster) or
// MainRunLoop::run/runUntil on the main thread takes them.
class MainScheduler final : public Scheduler {
 public:
  // Never destroyed: detached queue workers may still post to the main queue while the
  // process exits, after static destructors have begun.
  static MainScheduler& shared() {
    static auto* scheduler = new MainScheduler;
    return *scheduler;
  }

  void submit(Item item) override {
    std::function<void(std::function<void()>)> poster;
    {
      UnfairLock::Locker locker(lock_);
      items_.push_back(std::move(item));
      poster = poster_;
      wake_.notify_all();
    }
    if (poster) poster([this] { runOne(); });
  }

  void setPoster(std::function<void(std::function<void()>)> post) {
    std::size_t pending = 0;
    {
      UnfairLock::Locker locker(lock_);
      poster_ = post;
      pending = items_.size();
    }
    // Items queued before the poster existed still need a turn on the GUI loop.
    if (post) {
      for (std::size_t i = 0; i < pending; ++i) post([this] { runOne(); });
    }
  }

  // Runs the oldest pending item, if any; false when there was none.
  bool runOne() {
    Item item;
    {
      UnfairLock::Locker locker(lock_);
      if (items_.empty()) return false;
      item = std::move(items_.front());
      items_.pop_front();
    }
    runItem(item);
    return true;
  }

  void run() {
    for (;;) {
      {
        UnfairLock::Locker locker(lock_);
        while (!stopRequested_ && items_.empty()) lock_.wait(wake_);
        if (stopRequested_) {
          stopRequested_ = false;
          return;
        }
      }
      runOne();
    }
  }

  void stop() {
    UnfairLock::Locker locker(lock_);
    stopRequested_ = true;
    wake_.notify_all();
  }

  bool runUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (predicate()) return true;
      if (runOne()) continue;
      UnfairLock::Locker locker(lock_);
      if (std::chrono::steady_clock::now() >= deadline) break;
      // Short waits: the predicate may become true through work on other threads, which
      // does not signal this condition variable.
      const auto until =
          std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(5));
      while (items_.empty() && lock_.waitUntil(wake_, until)) {
      }
    }
    return predicate();
  }

 private:
  UnfairLock lock_;
  std::condition_variable wake_;
  std::deque<Item> items_ TOLVANE_GUARDED_BY(lock_);
  std::function<void(std::function<void()>)> poster_ TOLVANE_GUARDED_BY(lock_);
  bool stopRequested_ TOLVANE_GUARDED_BY(lock_) = false;
};

// One thread for every delayed submission in the program: when an item is due it is
// handed to its queue with async, so delayed work keeps the queue's ordering rules.
class DelayTimer {
 public:
  // Never destroyed, like the main scheduler: work running at exit may still schedule.
  static DelayTimer& shared() {
    static auto* timer = new DelayTimer;
    return *timer;
  }

  void schedule(std::chrono::steady_clock::time_point due, std::shared_ptr<DispatchQueue> queue,
                DispatchQueue::Work work) {
    UnfairLock::Locker locker(lock_);
    // multimap keeps insertion order among equal deadlines.
    pending_.emplace(due, Item{std::move(queue), std::move(work)});
    if (!thread_.joinable()) thread_ = std::thread(&DelayTimer::loop, this);
    wake_.notify_one();
  }

 private:
  DelayTimer() = default;

  void loop() {
    os::nameCurrentThread("dispatch-timer");
    UnfairLock::Locker locker(lock_);
    for (;;) {
      if (pending_.empty()) {
        lock_.wait(wake_);
        continue;
      }
      const auto due = pending_.begin()->first;
      if (std::chrono::steady_clock::now() < due) {
        lock_.waitUntil(wake_, due);
        continue;
      }
      Item item = std::move(pending_.begin()->second);
      pending_.erase(pending_.begin());
      locker.unlock();
      item.queue->async(std::move(item.work));
      item.queue.reset();
      locker.lock();
    }
  }

  UnfairLock lock_;
  std::condition_variable wake_;
  std::multimap<std::chrono::steady_clock::time_point, Item> pending_ TOLVANE_GUARDED_BY(lock_);
  std::thread thread_ TOLVANE_GUARDED_BY(lock_);
};

}  // namespace

namespace {
// make_shared needs a public constructor; the public type keeps its own protected.
struct ConstructibleQueue final : DispatchQueue {
  explicit ConstructibleQueue(std::unique_ptr<Impl> impl) : DispatchQueue(std::move(impl)) {}
};
}  // namespace

struct DispatchQueue::Impl {
  std::string label;
  std::shared_ptr<DispatchQueue> target;
  // Set on root queues only (the main queue uses MainScheduler, targets use their root's).
  std::shared_ptr<ThreadScheduler> ownScheduler;
  Scheduler* scheduler = nullptr;
};

std::shared_ptr<DispatchQueue> DispatchQueue::make(std::string label,
                                                   std::shared_ptr<DispatchQueue> target) {
  auto impl = std::make_unique<Impl>();
  impl->label = std::move(label);
  if (target) {
    impl->scheduler = target->impl_->scheduler;
    impl->target = std::move(target);
  } else {
    impl->ownScheduler = std::make_shared<ThreadScheduler>(impl->label);
    impl->scheduler = impl->ownScheduler.get();
  }
  return std::make_shared<ConstructibleQueue>(std::move(impl));
}

const std::shared_ptr<DispatchQueue>& DispatchQueue::main() {
  // Never destroyed, for the same reason as its scheduler.
  static const auto* mainQueue = new std::shared_ptr<DispatchQueue>([] {
    auto impl = std::make_unique<Impl>();
    impl->label = "main";
    impl->scheduler = &MainScheduler::shared();
    return std::make_shared<ConstructibleQueue>(std::move(impl));
  }());
  return *mainQueue;
}

DispatchQueue::DispatchQueue(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

DispatchQueue::~DispatchQueue() {
  if (impl_ && impl_->ownScheduler) impl_->ownScheduler->close();
}

const std::string& DispatchQueue::label() const { return impl_->label; }

const std::shared_ptr<DispatchQueue>& DispatchQueue::target() const { return impl_->target; }

void DispatchQueue::async(Work work) {
  impl_->scheduler->submit(Item{shared_from_this(), std::move(work)});
}

void DispatchQueue::asyncAfter(std::chrono::nanoseconds delay, Work work) {
  if (delay <= std::chrono::nanoseconds::zero()) {
    async(std::move(work));
    return;
  }
  DelayTimer::shared().schedule(std::chrono::steady_clock::now() + delay, shared_from_this(),
                                std::move(work));
}

void DispatchQueue::asyncAfter(double seconds, Work work) {
  asyncAfter(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(seconds)),
      std::move(work));
}

bool DispatchQueue::isCurrent() const {
  for (const DispatchQueue* running : tCurrentQueues) {
    for (const DispatchQueue* q = running; q != nullptr; q = q->impl_->target.get()) {
      if (q == this) return true;
    }
  }
  return false;
}

void DispatchQueue::dispatchPreconditionOnQueue() const {
  if (isCurrent()) return;
  fatalError("Dispatch precondition failed: not running on queue \"" + impl_->label + "\"");
}

void DispatchQueue::dispatchPreconditionNotOnQueue(std::string_view operation) const {
  if (!isCurrent()) return;
  fatalError("Dispatch precondition failed: " + std::string(operation) +
             " must not block queue \"" + impl_->label + "\", where its completion runs");
}

void MainRunLoop::setPoster(std::function<void(std::function<void()>)> post) {
  MainScheduler::shared().setPoster(std::move(post));
}

void MainRunLoop::run() { MainScheduler::shared().run(); }

void MainRunLoop::stop() { MainScheduler::shared().stop(); }

bool MainRunLoop::runUntil(const std::function<bool()>& predicate,
                           std::chrono::milliseconds timeout) {
  return MainScheduler::shared().runUntil(predicate, timeout);
}

}  // namespace tolvane::platform
