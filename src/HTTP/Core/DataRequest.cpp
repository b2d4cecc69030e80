#include "HTTP/Core/DataRequest.h"

#include "HTTP/Core/EventMonitor.h"
#include "Platform/URLError.h"

namespace tolvane::http {

DataRequest::DataRequest(std::shared_ptr<const URLRequestConvertible> convertible, Context context)
    : Request(std::move(context)), convertible_(std::move(convertible)) {}

std::shared_ptr<DataRequest> DataRequest::make(
    std::shared_ptr<const URLRequestConvertible> convertible, Context context) {
  return std::make_shared<DataRequest>(std::move(convertible), std::move(context));
}

std::optional<platform::Data> DataRequest::data() const { return data_.get(); }

std::optional<HTTPError> DataRequest::bodyError() const { return bodyError_.get(); }

std::optional<HTTPError> DataRequest::serializationInputError() const {
  if (auto error = this->error()) return error;
  return bodyError();
}

std::optional<HTTPError> DataRequest::taskCompletionError(const std::optional<HTTPError>& error) {
  if (!error || !error->isSessionTaskError()) return error;
  const auto* transport = dynamic_cast<const platform::URLError*>(error->underlyingError().get());
  if (!transport || transport->code() != platform::URLError::dataLengthExceedsMaximum) return error;
  // The attempt goes on as a finished transfer whose body cannot be used: validators still
  // see the status, and the serializers report the refusal as a decoding failure.
  data_.set(std::nullopt);
  bodyError_.set(HTTPError::responseSerializationFailed(
      HTTPError::ResponseSerializationFailureReason::decodingFailed(error->underlyingError())));
  return std::nullopt;
}

platform::TaskPtr DataRequest::makeTask(RequestKey /*key*/, const platform::URLRequest& request,
                                        platform::URLSession& session) {
  return session.dataTask(request);
}

void DataRequest::didReceive(RequestKey /*key*/, const platform::Data& chunk) {
  assertOnUnderlyingQueue();
  const auto received = data_.write([&](std::optional<platform::Data>& body) {
    if (body) {
      body->append(chunk);
    } else {
      body = chunk;
    }
    return static_cast<std::int64_t>(body->size());
  });
  const auto task = lastTask();
  const auto head = task ? task->response() : nullptr;
  downloadProgress()->setTotalUnitCount(head ? head->expectedContentLength
                                             : platform::kTransferSizeUnknown);
  downloadProgress()->setCompletedUnitCount(received);
  callDownloadProgressHandler();
}

void DataRequest::reset() {
  Request::reset();
  data_.set(std::nullopt);
  bodyError_.set(std::nullopt);
}

std::shared_ptr<DataRequest> DataRequest::resume() {
  Request::resume();
  return self();
}

std::shared_ptr<DataRequest> DataRequest::suspend() {
  Request::suspend();
  return self();
}

std::shared_ptr<DataRequest> DataRequest::cancel() {
  Request::cancel();
  return self();
}

}  // namespace tolvane::http
