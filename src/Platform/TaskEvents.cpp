#include "Platform/TaskEvents.h"

#include <system_error>
#include <utility>

namespace tolvane::platform {

void TaskEvents::post(Event event) const {
  context_->queue->async([context = context_, task = task_, event = std::move(event)] {
    auto session = context->session.lock();
    auto publicTask = task.lock();
    if (!session || !publicTask || !context->delegate->delegate) return;
    event(*session, *context->delegate->delegate, publicTask);
  });
}

void TaskEvents::postDecision(Event ask, std::function<void()> fallback) const {
  context_->queue->async(
      [context = context_, task = task_, ask = std::move(ask), fallback = std::move(fallback)] {
        auto session = context->session.lock();
        auto publicTask = task.lock();
        if (session && publicTask && context->delegate->delegate) {
          ask(*session, *context->delegate->delegate, publicTask);
        } else {
          fallback();
        }
      });
}

void TaskEvents::postEnd(const URLSessionTaskMetrics& metrics, const ErrorPtr& error) const {
  // One queue item for both callbacks and the bookkeeping: they always come together.
  context_->queue->async(
      [context = context_, task = task_, metrics, error, identifier = taskIdentifier_] {
        auto session = context->session.lock();
        if (!session) return;
        if (auto publicTask = task.lock(); publicTask && context->delegate->delegate) {
          auto& delegate = *context->delegate->delegate;
          delegate.didFinishCollectingMetrics(*session, publicTask, metrics);
          delegate.didCompleteWithError(*session, publicTask, error);
        }
        if (context->completionDelivered) context->completionDelivered(identifier);
      });
}

void TaskEvents::postDownloaded(const std::filesystem::path& file) const {
  context_->queue->async([context = context_, task = task_, file] {
    auto session = context->session.lock();
    auto publicTask = task.lock();
    if (session && publicTask && context->delegate->delegate) {
      context->delegate->delegate->didFinishDownloadingTo(*session, publicTask, file);
    }
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
  });
}

void TaskEvents::postResumeData(std::function<void(std::optional<Data>)> handler,
                                std::optional<Data> data) const {
  context_->queue->async([handler = std::move(handler), data = std::move(data)] { handler(data); });
}

}  // namespace tolvane::platform
