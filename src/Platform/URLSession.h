#pragma once

#include <memory>
#include <optional>

#include "Platform/Data.h"
#include "Platform/DispatchQueue.h"
#include "Platform/URLError.h"
#include "Platform/URLRequest.h"
#include "Platform/URLSessionConfiguration.h"
#include "Platform/URLSessionDelegate.h"
#include "Platform/URLSessionTask.h"

namespace tolvane::platform {

struct ResumeData;

// A transport session: makes tasks, runs them on a network thread of its own (libcurl's
// multi interface) and delivers every callback on `delegateQueue`, one at a time. It holds
// its delegate strongly until it has been invalidated and has sent didBecomeInvalidWithError.
class URLSession : public std::enable_shared_from_this<URLSession> {
 public:
  [[nodiscard]] static std::shared_ptr<URLSession> make(
      URLSessionConfiguration configuration, std::shared_ptr<URLSessionDelegate> delegate,
      std::shared_ptr<DispatchQueue> delegateQueue);
  ~URLSession();

  [[nodiscard]] const URLSessionConfiguration& configuration() const;
  [[nodiscard]] const std::shared_ptr<DispatchQueue>& delegateQueue() const;

  [[nodiscard]] TaskPtr dataTask(const URLRequest& request);
  [[nodiscard]] TaskPtr downloadTask(const URLRequest& request);
  [[nodiscard]] TaskPtr downloadTask(const Data& resumeData);

  // Gives up resume data that nobody will continue from: removes the partial file it names
  // when that is one of the transport's own files in the temp folder, and nothing else.
  static void discardResumeData(const Data& resumeData);

  // Cancels every outstanding task; didBecomeInvalidWithError follows once they have completed.
  void invalidateAndCancel();
  // Lets outstanding tasks finish, then invalidates.
  void finishTasksAndInvalidate();

  URLSession(const URLSession&) = delete;
  URLSession& operator=(const URLSession&) = delete;

  struct Impl;

 private:
  explicit URLSession(std::unique_ptr<Impl> impl);
  TaskPtr makeTask(URLSessionTask::Kind kind, URLRequest request,
                   std::optional<ResumeData> resumeData, std::optional<URLError::Code> startError);
  void taskCompleted(std::uint64_t taskIdentifier);
  void invalidate(bool cancelTasks);
  void sendInvalidationCallback();
  std::unique_ptr<Impl> impl_;
};

}  // namespace tolvane::platform
