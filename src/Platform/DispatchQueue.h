#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tolvane::platform {

// A serial queue of work items with a label. Work on a queue runs one item at a time, in
// the order submitted. A queue may target another queue: its work then never runs at the
// same time as the target's work (nor as other queues targeting the same root), and code
// running on it counts as running on the target too (isCurrent follows the chain).
// Queues are shared objects; a queue stays alive while work is pending on it.
//
// The main queue is special: its work runs on the program's main thread, driven by whatever
// runs that thread (the GUI event loop, the headless loop, or a test; see MainRunLoop).
class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
 public:
  using Work = std::function<void()>;

  [[nodiscard]] static std::shared_ptr<DispatchQueue> make(
      std::string label, std::shared_ptr<DispatchQueue> target = nullptr);
  [[nodiscard]] static const std::shared_ptr<DispatchQueue>& main();

  virtual ~DispatchQueue();

  [[nodiscard]] const std::string& label() const;
  [[nodiscard]] const std::shared_ptr<DispatchQueue>& target() const;

  void async(Work work);
  // Runs `work` no earlier than `delay` from now, measured on a monotonic clock.
  void asyncAfter(std::chrono::nanoseconds delay, Work work);
  void asyncAfter(double seconds, Work work);

  // True when the calling code runs on this queue, or on a queue that targets it directly
  // or through a chain of targets.
  [[nodiscard]] bool isCurrent() const;
  // Stops the process with a message naming the queue when !isCurrent(): the layer's guard
  // against events on the wrong queue.
  void dispatchPreconditionOnQueue() const;
  // Stops the process with a message naming `operation` and the queue when isCurrent(): the
  // guard of a blocking call whose completion runs on this queue, which would wait forever.
  void dispatchPreconditionNotOnQueue(std::string_view operation) const;

  DispatchQueue(const DispatchQueue&) = delete;
  DispatchQueue& operator=(const DispatchQueue&) = delete;

 protected:
  struct Impl;
  explicit DispatchQueue(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// Drives the main queue on the thread that calls it.
class MainRunLoop {
 public:
  // Hands main-queue work to an external loop instead (the GUI's "call after"): `post` must
  // arrange for its argument to run on the main thread. Pass nullptr to return to run().
  static void setPoster(std::function<void(std::function<void()>)> post);
  // Runs main-queue work on the calling thread (which becomes the main thread) until stop().
  static void run();
  static void stop();
  // Runs main-queue work that is due until `predicate` holds or `timeout` passes; true when
  // the predicate held. For tests and for the headless front end.
  static bool runUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout);
};

}  // namespace tolvane::platform
