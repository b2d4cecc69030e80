#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "HTTP/Core/EventMonitor.h"

namespace tolvane::http {

// Fans every event out to a fixed list of monitors. An event hops to this monitor's own
// serial queue and from there to each monitor's queue, so sending never waits for a
// monitor and each monitor sees events in the order they were sent. The list is fixed at
// construction (immutable, so it needs no lock); arguments are copied when sent.
class CompositeEventMonitor final : public EventMonitor {
 public:
  static constexpr const char* kQueueLabel = "net.tolvane.http.compositeEventMonitor";

  explicit CompositeEventMonitor(std::vector<std::shared_ptr<EventMonitor>> monitors);

  [[nodiscard]] std::shared_ptr<platform::DispatchQueue> queue() const override { return queue_; }
  [[nodiscard]] const std::vector<std::shared_ptr<EventMonitor>>& monitors() const {
    return *monitors_;
  }

#define TOLVANE_FAN_OUT_TRANSPORT_EVENT(name, parameters, arguments) \
  void name(platform::URLSession& session, TOLVANE_UNPAREN parameters) override;
#define TOLVANE_FAN_OUT_REQUEST_EVENT(name, parameters, arguments) void name parameters override;
  TOLVANE_TRANSPORT_EVENTS(TOLVANE_FAN_OUT_TRANSPORT_EVENT)
  TOLVANE_REQUEST_EVENTS(TOLVANE_FAN_OUT_REQUEST_EVENT)
#undef TOLVANE_FAN_OUT_TRANSPORT_EVENT
#undef TOLVANE_FAN_OUT_REQUEST_EVENT

  // Delivers `event` to every monitor on its queue.
  void performEvent(std::function<void(EventMonitor&)> event);

 private:
  // Transport events name the transport session by reference; it is kept alive until every
  // monitor has seen the event, and an event arriving while it is being torn down is dropped.
  void performSessionEvent(platform::URLSession& session,
                           std::function<void(EventMonitor&, platform::URLSession&)> event);

  const std::shared_ptr<platform::DispatchQueue> queue_;
  const std::shared_ptr<const std::vector<std::shared_ptr<EventMonitor>>> monitors_;
};

}  // namespace tolvane::http
