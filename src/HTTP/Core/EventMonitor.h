#pragma once

#include <any>
#include <cstdint>
#include <memory>
#include <optional>

#include "HTTP/Core/EventMonitorEvents.h"
#include "HTTP/Core/HTTPError.h"
#include "HTTP/Core/Result.h"
#include "HTTP/Response/ValidationResult.h"
#include "Platform/Data.h"
#include "Platform/DispatchQueue.h"
#include "Platform/Error.h"
#include "Platform/HTTPURLResponse.h"
#include "Platform/URL.h"
#include "Platform/URLRequest.h"
#include "Platform/URLSession.h"
#include "Platform/URLSessionTaskMetrics.h"

namespace tolvane::http {

class Request;
class DataRequest;
class DownloadRequest;
class Session;
template <typename Success>
struct DataResponse;
template <typename Success>
struct DownloadResponse;

// Observes what the layer does: the transport's events as the session delegate receives
// them, and each request's lifecycle (the list is in EventMonitorEvents.h). Every event has a
// default that ignores it, so a monitor overrides only what it wants. Events are delivered on
// queue(), one at a time.
class EventMonitor {
 public:
  virtual ~EventMonitor() = default;

  // The queue this monitor wants its events on.
  [[nodiscard]] virtual std::shared_ptr<platform::DispatchQueue> queue() const {
    return platform::DispatchQueue::main();
  }

#define TOLVANE_DEFAULT_TRANSPORT_EVENT(name, parameters, arguments)             \
  virtual void name(platform::URLSession& session, TOLVANE_UNPAREN parameters) { \
    ignore(session, TOLVANE_UNPAREN arguments);                                  \
  }
#define TOLVANE_DEFAULT_REQUEST_EVENT(name, parameters, arguments) \
  virtual void name parameters { ignore arguments; }
  TOLVANE_TRANSPORT_EVENTS(TOLVANE_DEFAULT_TRANSPORT_EVENT)
  TOLVANE_REQUEST_EVENTS(TOLVANE_DEFAULT_REQUEST_EVENT)
#undef TOLVANE_DEFAULT_TRANSPORT_EVENT
#undef TOLVANE_DEFAULT_REQUEST_EVENT

 private:
  template <typename... Arguments>
  static void ignore(const Arguments&... /*arguments*/) {}
};

}  // namespace tolvane::http
