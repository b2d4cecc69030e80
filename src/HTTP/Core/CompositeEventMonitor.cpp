#include "HTTP/Core/CompositeEventMonitor.h"

#include "HTTP/Response/DataResponse.h"
#include "HTTP/Response/DownloadResponse.h"

namespace tolvane::http {

using platform::URLSession;

CompositeEventMonitor::CompositeEventMonitor(std::vector<std::shared_ptr<EventMonitor>> monitors)
    : queue_(platform::DispatchQueue::make(kQueueLabel)),
      monitors_(
          std::make_shared<const std::vector<std::shared_ptr<EventMonitor>>>(std::move(monitors))) {
}

void CompositeEventMonitor::performEvent(std::function<void(EventMonitor&)> event) {
  if (monitors_->empty()) return;
  queue_->async([monitors = monitors_, event = std::move(event)] {
    for (const auto& monitor : *monitors) {
      monitor->queue()->async([monitor, event] { event(*monitor); });
    }
  });
}

void CompositeEventMonitor::performSessionEvent(
    URLSession& session, std::function<void(EventMonitor&, URLSession&)> event) {
  auto owner = session.weak_from_this().lock();
  if (!owner) return;
  performEvent(
      [owner = std::move(owner), event = std::move(event)](EventMonitor& m) { event(m, *owner); });
}

// Arguments are captured by copy: the event outlives the call that sent it.
#define TOLVANE_FAN_OUT_TRANSPORT_EVENT(name, parameters, arguments)                  \
  void CompositeEventMonitor::name(URLSession& session, TOLVANE_UNPAREN parameters) { \
    performSessionEvent(session, [=](EventMonitor& monitor, URLSession& owner) {      \
      monitor.name(owner, TOLVANE_UNPAREN arguments);                                 \
    });                                                                               \
  }
#define TOLVANE_FAN_OUT_REQUEST_EVENT(name, parameters, arguments)        \
  void CompositeEventMonitor::name parameters {                           \
    performEvent([=](EventMonitor& monitor) { monitor.name arguments; }); \
  }
TOLVANE_TRANSPORT_EVENTS(TOLVANE_FAN_OUT_TRANSPORT_EVENT)
TOLVANE_REQUEST_EVENTS(TOLVANE_FAN_OUT_REQUEST_EVENT)
#undef TOLVANE_FAN_OUT_TRANSPORT_EVENT
#undef TOLVANE_FAN_OUT_REQUEST_EVENT

}  // namespace tolvane::http
