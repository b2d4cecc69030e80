#pragma once

// The one list of EventMonitor events. EventMonitor, the fan-out in CompositeEventMonitor and
// the tests' recorders are generated from it, so adding an event is one line here.
//
// X(name, (parameters), (arguments)). Transport events also take the transport session as
// their first parameter, which the list leaves out: the fan-out has to keep it alive. Types are
// named from the tolvane namespace, so the list expands anywhere below it.

#define TOLVANE_UNPAREN(...) __VA_ARGS__

// Sent by the session delegate, as the transport reports them. `error` is null when there is
// none.
#define TOLVANE_TRANSPORT_EVENTS(X)                                                           \
  X(sessionDidBecomeInvalidWithError, (const platform::ErrorPtr& error), (error))             \
  X(taskDidReceiveChallenge,                                                                  \
    (const platform::TaskPtr& task, const platform::URLAuthenticationChallenge& challenge),   \
    (task, challenge))                                                                        \
  X(taskDidSendBodyData,                                                                      \
    (const platform::TaskPtr& task, std::int64_t bytesSent, std::int64_t totalBytesSent,      \
     std::int64_t totalBytesExpectedToSend),                                                  \
    (task, bytesSent, totalBytesSent, totalBytesExpectedToSend))                              \
  X(taskNeedNewBodyStream, (const platform::TaskPtr& task), (task))                           \
  X(taskWillPerformHTTPRedirection,                                                           \
    (const platform::TaskPtr& task, const platform::HTTPURLResponse& response,                \
     const platform::URLRequest& newRequest),                                                 \
    (task, response, newRequest))                                                             \
  X(taskDidFinishCollectingMetrics,                                                           \
    (const platform::TaskPtr& task, const platform::URLSessionTaskMetrics& metrics),          \
    (task, metrics))                                                                          \
  X(taskDidComplete, (const platform::TaskPtr& task, const platform::ErrorPtr& error),        \
    (task, error))                                                                            \
  X(taskIsWaitingForConnectivity, (const platform::TaskPtr& task), (task))                    \
  X(dataTaskDidReceiveResponse,                                                               \
    (const platform::TaskPtr& dataTask, const platform::HTTPURLResponse& response),           \
    (dataTask, response))                                                                     \
  X(dataTaskDidReceiveData, (const platform::TaskPtr& dataTask, const platform::Data& data),  \
    (dataTask, data))                                                                         \
  X(dataTaskWillCacheResponse,                                                                \
    (const platform::TaskPtr& dataTask, const platform::CachedURLResponse& proposedResponse), \
    (dataTask, proposedResponse))                                                             \
  X(downloadTaskDidResumeAtOffset,                                                            \
    (const platform::TaskPtr& downloadTask, std::int64_t fileOffset,                          \
     std::int64_t expectedTotalBytes),                                                        \
    (downloadTask, fileOffset, expectedTotalBytes))                                           \
  X(downloadTaskDidWriteData,                                                                 \
    (const platform::TaskPtr& downloadTask, std::int64_t bytesWritten,                        \
     std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite),                 \
    (downloadTask, bytesWritten, totalBytesWritten, totalBytesExpectedToWrite))               \
  X(downloadTaskDidFinishDownloadingToURL,                                                    \
    (const platform::TaskPtr& downloadTask, const platform::URL& location),                   \
    (downloadTask, location))

// Sent by the request through its lifecycle, and by validators, response handlers and
// download requests. A handler's serialized value is handed over type-erased: monitors see
// every handler's record, whatever it decodes to.
#define TOLVANE_REQUEST_EVENTS(X)                                                               \
  X(requestDidCreateInitialURLRequest,                                                          \
    (const std::shared_ptr<http::Request>& request, const platform::URLRequest& urlRequest),    \
    (request, urlRequest))                                                                      \
  X(requestDidFailToCreateURLRequestWithError,                                                  \
    (const std::shared_ptr<http::Request>& request, const http::HTTPError& error),              \
    (request, error))                                                                           \
  X(requestDidAdaptInitialRequestToAdaptedRequest,                                              \
    (const std::shared_ptr<http::Request>& request, const platform::URLRequest& initialRequest, \
     const platform::URLRequest& adaptedRequest),                                               \
    (request, initialRequest, adaptedRequest))                                                  \
  X(requestDidFailToAdaptURLRequestWithError,                                                   \
    (const std::shared_ptr<http::Request>& request, const platform::URLRequest& urlRequest,     \
     const http::HTTPError& error),                                                             \
    (request, urlRequest, error))                                                               \
  X(requestDidCreateURLRequest,                                                                 \
    (const std::shared_ptr<http::Request>& request, const platform::URLRequest& urlRequest),    \
    (request, urlRequest))                                                                      \
  X(requestDidCreateTask,                                                                       \
    (const std::shared_ptr<http::Request>& request, const platform::TaskPtr& task),             \
    (request, task))                                                                            \
  X(requestDidGatherMetrics,                                                                    \
    (const std::shared_ptr<http::Request>& request,                                             \
     const platform::URLSessionTaskMetrics& metrics),                                           \
    (request, metrics))                                                                         \
  X(requestDidFailTaskEarlyWithError,                                                           \
    (const std::shared_ptr<http::Request>& request, const platform::TaskPtr& task,              \
     const http::HTTPError& error),                                                             \
    (request, task, error))                                                                     \
  X(requestDidCompleteTaskWithError,                                                            \
    (const std::shared_ptr<http::Request>& request, const platform::TaskPtr& task,              \
     const std::optional<http::HTTPError>& error),                                              \
    (request, task, error))                                                                     \
  X(requestIsRetrying, (const std::shared_ptr<http::Request>& request), (request))              \
  X(requestDidFinish, (const std::shared_ptr<http::Request>& request), (request))               \
  X(requestDidResume, (const std::shared_ptr<http::Request>& request), (request))               \
  X(requestDidResumeTask,                                                                       \
    (const std::shared_ptr<http::Request>& request, const platform::TaskPtr& task),             \
    (request, task))                                                                            \
  X(requestDidSuspend, (const std::shared_ptr<http::Request>& request), (request))              \
  X(requestDidSuspendTask,                                                                      \
    (const std::shared_ptr<http::Request>& request, const platform::TaskPtr& task),             \
    (request, task))                                                                            \
  X(requestDidCancel, (const std::shared_ptr<http::Request>& request), (request))               \
  X(requestDidCancelTask,                                                                       \
    (const std::shared_ptr<http::Request>& request, const platform::TaskPtr& task),             \
    (request, task))                                                                            \
  X(requestDidValidateRequestResponseDataWithResult,                                            \
    (const std::shared_ptr<http::DataRequest>& request,                                         \
     const std::optional<platform::URLRequest>& urlRequest,                                     \
     const platform::HTTPURLResponse& response, const std::optional<platform::Data>& data,      \
     const http::ValidationResult& result),                                                     \
    (request, urlRequest, response, data, result))                                              \
  X(requestDidValidateRequestResponseFileURLWithResult,                                         \
    (const std::shared_ptr<http::DownloadRequest>& request,                                     \
     const std::optional<platform::URLRequest>& urlRequest,                                     \
     const platform::HTTPURLResponse& response, const std::optional<platform::URL>& fileURL,    \
     const http::ValidationResult& result),                                                     \
    (request, urlRequest, response, fileURL, result))                                           \
  X(requestDidParseResponse,                                                                    \
    (const std::shared_ptr<http::DataRequest>& request,                                         \
     const http::DataResponse<std::any>& response),                                             \
    (request, response))                                                                        \
  X(requestDidParseDownloadResponse,                                                            \
    (const std::shared_ptr<http::DownloadRequest>& request,                                     \
     const http::DownloadResponse<std::any>& response),                                         \
    (request, response))                                                                        \
  X(requestDidCreateDestinationURL,                                                             \
    (const std::shared_ptr<http::DownloadRequest>& request, const platform::URL& url),          \
    (request, url))                                                                             \
  X(requestDidFinishDownloadingUsingTaskWithResult,                                             \
    (const std::shared_ptr<http::DownloadRequest>& request, const platform::TaskPtr& task,      \
     const http::Result<platform::URL>& result),                                                \
    (request, task, result))
