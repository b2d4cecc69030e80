#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "Platform/TransferContext.h"

namespace tolvane::platform {

// How one task's events reach the session's delegate: each goes onto the delegate queue in
// the order posted, so callbacks arrive in the order things happened, and is dropped once
// the session, the public task or the delegate is gone. Any thread.
class TaskEvents {
 public:
  using Event = std::function<void(URLSession&, URLSessionDelegate&, const TaskPtr&)>;

  TaskEvents(std::shared_ptr<const TransferContext> context, std::uint64_t taskIdentifier)
      : context_(std::move(context)), taskIdentifier_(taskIdentifier) {}

  // Before the first event.
  void attach(std::weak_ptr<URLSessionTask> task) { task_ = std::move(task); }

  void post(Event event) const;
  // Asks the delegate through `ask`, or runs `fallback` (the platform's default answer)
  // when there is no delegate to ask.
  void postDecision(Event ask, std::function<void()> fallback) const;
  // The metrics callback, the completion callback, then the session's bookkeeping.
  void postEnd(const URLSessionTaskMetrics& metrics, const ErrorPtr& error) const;
  // Offers a finished download's file to the delegate; what it did not move away is removed.
  void postDownloaded(const std::filesystem::path& file) const;
  // Gives `handler` its resume data (none when the transfer cannot be continued).
  void postResumeData(std::function<void(std::optional<Data>)> handler,
                      std::optional<Data> data) const;

 private:
  std::shared_ptr<const TransferContext> context_;
  std::uint64_t taskIdentifier_;
  std::weak_ptr<URLSessionTask> task_;
};

}  // namespace tolvane::platform
