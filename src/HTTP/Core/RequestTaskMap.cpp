#include "HTTP/Core/RequestTaskMap.h"

#include "HTTP/Core/Request.h"
#include "Platform/Fatal.h"

namespace tolvane::http {
namespace {

[[noreturn]] void stop(const char* message) { platform::fatalError(message); }

}  // namespace

void RequestTaskMap::add(const std::shared_ptr<Request>& request, const platform::TaskPtr& task) {
  tasksToRequests_[task.get()] = Entry{task, request};
  requestsToTasks_[request->id()] = task;
  taskEvents_[task.get()] = Events{};
}

void RequestTaskMap::remove(const platform::URLSessionTask& task) {
  auto found = tasksToRequests_.find(&task);
  if (found == tasksToRequests_.end()) {
    stop("RequestTaskMap consistency error: no request corresponding to task found.");
  }
  // Keep the task alive until every key that points at it is gone.
  const Entry entry = std::move(found->second);
  tasksToRequests_.erase(found);
  auto mapped = requestsToTasks_.find(entry.request->id());
  if (mapped != requestsToTasks_.end() && mapped->second.get() == &task) {
    requestsToTasks_.erase(mapped);
  }
  taskEvents_.erase(&task);
}

std::shared_ptr<Request> RequestTaskMap::request(const platform::URLSessionTask& task) const {
  auto found = tasksToRequests_.find(&task);
  return found == tasksToRequests_.end() ? nullptr : found->second.request;
}

platform::TaskPtr RequestTaskMap::task(const Request& request) const {
  auto found = requestsToTasks_.find(request.id());
  return found == requestsToTasks_.end() ? nullptr : found->second;
}

std::vector<std::shared_ptr<Request>> RequestTaskMap::requests() const {
  std::vector<std::shared_ptr<Request>> result;
  result.reserve(tasksToRequests_.size());
  for (const auto& [task, entry] : tasksToRequests_) result.push_back(entry.request);
  return result;
}

RequestTaskMap::Events& RequestTaskMap::events(const platform::URLSessionTask& task) {
  auto found = taskEvents_.find(&task);
  if (found == taskEvents_.end()) {
    stop("RequestTaskMap consistency error: no events corresponding to task found.");
  }
  return found->second;
}

bool RequestTaskMap::recordMetrics(const platform::URLSessionTask& task) {
  Events& seen = events(task);
  if (seen.metricsGathered)
    stop("RequestTaskMap consistency error: duplicate metricsGatheredForTask call.");
  if (seen.completed) {
    remove(task);
    return true;
  }
  seen.metricsGathered = true;
  return false;
}

bool RequestTaskMap::recordCompletion(const platform::URLSessionTask& task) {
  Events& seen = events(task);
  if (seen.completed)
    stop("RequestTaskMap consistency error: duplicate completionReceivedForTask call.");
  if (seen.metricsGathered) {
    remove(task);
    return true;
  }
  seen.completed = true;
  return false;
}

}  // namespace tolvane::http
