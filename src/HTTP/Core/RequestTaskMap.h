#pragma once

#include <cstddef>
#include <memory>
#include <unordered_map>
#include <vector>

#include "Platform/URLSession.h"
#include "Platform/UUID.h"

namespace tolvane::http {

class Request;

// The session's two-way map between requests and the transport task of their current
// attempt, with the per-task record of which of the two final transport events (metrics,
// completion) has arrived. A task leaves the map once both have. The map is a plain value
// owned by its session and touched only on the session's root queue; it takes no lock.
//
// Inconsistent use (an event for an unmapped task, a second completion or metrics event
// for one task) is a fault of the layer itself and stops the process with a fixed message.
class RequestTaskMap {
 public:
  struct Events {
    bool completed = false;
    bool metricsGathered = false;
  };

  // Maps `task` to `request` and back, with no event seen yet for `task`.
  void add(const std::shared_ptr<Request>& request, const platform::TaskPtr& task);
  // Removes `task` and its request; stops the process when `task` is not mapped.
  void remove(const platform::URLSessionTask& task);

  [[nodiscard]] std::shared_ptr<Request> request(const platform::URLSessionTask& task) const;
  [[nodiscard]] platform::TaskPtr task(const Request& request) const;
  [[nodiscard]] std::vector<std::shared_ptr<Request>> requests() const;
  [[nodiscard]] std::size_t count() const { return tasksToRequests_.size(); }
  [[nodiscard]] bool isEmpty() const { return tasksToRequests_.empty(); }
  [[nodiscard]] std::size_t eventsCount() const { return taskEvents_.size(); }

  // Notes that `task` has delivered its metrics. True when its completion had already
  // arrived: both events are in and the task has been removed.
  [[nodiscard]] bool recordMetrics(const platform::URLSessionTask& task);
  // Notes that `task` has completed. True when its metrics had already arrived: both
  // events are in and the task has been removed.
  [[nodiscard]] bool recordCompletion(const platform::URLSessionTask& task);

 private:
  struct Entry {
    platform::TaskPtr task;
    std::shared_ptr<Request> request;
  };

  Events& events(const platform::URLSessionTask& task);

  std::unordered_map<const platform::URLSessionTask*, Entry> tasksToRequests_;
  std::unordered_map<platform::UUID, platform::TaskPtr> requestsToTasks_;
  std::unordered_map<const platform::URLSessionTask*, Events> taskEvents_;
};

}  // namespace tolvane::http
