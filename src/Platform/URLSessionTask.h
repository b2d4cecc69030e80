#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "Platform/Data.h"
#include "Platform/HTTPURLResponse.h"
#include "Platform/URLRequest.h"

namespace tolvane::platform {

// One transfer. Created suspended; resume() starts it. Every task reports exactly one
// metrics callback and then exactly one completion to the session's delegate, also when
// cancelled. Download tasks write the body to a temporary file, never to memory.
class URLSessionTask : public std::enable_shared_from_this<URLSessionTask> {
 public:
  enum class State { running, suspended, canceling, completed };
  enum class Kind { data, download };

  virtual ~URLSessionTask();

  [[nodiscard]] std::uint64_t taskIdentifier() const;
  [[nodiscard]] Kind kind() const;
  [[nodiscard]] State state() const;
  [[nodiscard]] std::optional<URLRequest> originalRequest() const;
  [[nodiscard]] std::optional<URLRequest> currentRequest() const;
  // The response head once received (after redirects), else null.
  [[nodiscard]] std::shared_ptr<const HTTPURLResponse> response() const;
  [[nodiscard]] std::int64_t countOfBytesReceived() const;
  // From the response's Content-Length (plus the resumed offset for a resumed download),
  // or kTransferSizeUnknown.
  [[nodiscard]] std::int64_t countOfBytesExpectedToReceive() const;

  void resume();
  void suspend();
  void cancel();
  // Download tasks: cancel and hand back data from which a new download task can continue
  // (none when the transfer cannot be resumed). The handler runs on the delegate queue.
  void cancelByProducingResumeData(std::function<void(std::optional<Data>)> handler);

  URLSessionTask(const URLSessionTask&) = delete;
  URLSessionTask& operator=(const URLSessionTask&) = delete;

  struct Impl;

 protected:
  explicit URLSessionTask(std::unique_ptr<Impl> impl);

 private:
  friend class URLSession;
  std::unique_ptr<Impl> impl_;
};

using TaskPtr = std::shared_ptr<URLSessionTask>;

}  // namespace tolvane::platform
