#pragma once

#include <string>
#include <utility>
#include <vector>

#include "HTTP/Core/HTTPError.h"

// Short spellings of the validation and serialization errors this folder produces.
namespace tolvane::http::failures {

using SerializationReason = HTTPError::ResponseSerializationFailureReason;
using ValidationReason = HTTPError::ResponseValidationFailureReason;

[[nodiscard]] inline HTTPError serialization(SerializationReason::Kind kind) {
  SerializationReason reason{};
  reason.kind = kind;
  return HTTPError::responseSerializationFailed(std::move(reason));
}

[[nodiscard]] inline HTTPError inputFileReadFailed(platform::URL url) {
  SerializationReason reason{};
  reason.kind = SerializationReason::Kind::inputFileReadFailed;
  reason.url = std::move(url);
  return HTTPError::responseSerializationFailed(std::move(reason));
}

[[nodiscard]] inline HTTPError stringSerializationFailed(StringEncoding encoding) {
  SerializationReason reason{};
  reason.kind = SerializationReason::Kind::stringSerializationFailed;
  reason.encoding = encoding;
  return HTTPError::responseSerializationFailed(std::move(reason));
}

// jsonSerializationFailed, decodingFailed or customSerializationFailed with their cause.
[[nodiscard]] inline HTTPError serialization(SerializationReason::Kind kind,
                                             platform::ErrorPtr error) {
  SerializationReason reason{};
  reason.kind = kind;
  reason.error = std::move(error);
  return HTTPError::responseSerializationFailed(std::move(reason));
}

[[nodiscard]] inline HTTPError invalidEmptyResponse(std::string type) {
  SerializationReason reason{};
  reason.kind = SerializationReason::Kind::invalidEmptyResponse;
  reason.type = std::move(type);
  return HTTPError::responseSerializationFailed(std::move(reason));
}

[[nodiscard]] inline HTTPError unacceptableStatusCode(int code) {
  ValidationReason reason{};
  reason.kind = ValidationReason::Kind::unacceptableStatusCode;
  reason.code = code;
  return HTTPError::responseValidationFailed(std::move(reason));
}

[[nodiscard]] inline HTTPError missingContentType(std::vector<std::string> acceptable) {
  ValidationReason reason{};
  reason.kind = ValidationReason::Kind::missingContentType;
  reason.acceptableContentTypes = std::move(acceptable);
  return HTTPError::responseValidationFailed(std::move(reason));
}

[[nodiscard]] inline HTTPError unacceptableContentType(std::vector<std::string> acceptable,
                                                       std::string responseType) {
  ValidationReason reason{};
  reason.kind = ValidationReason::Kind::unacceptableContentType;
  reason.acceptableContentTypes = std::move(acceptable);
  reason.responseContentType = std::move(responseType);
  return HTTPError::responseValidationFailed(std::move(reason));
}

[[nodiscard]] inline HTTPError dataFileNil() {
  ValidationReason reason{};
  reason.kind = ValidationReason::Kind::dataFileNil;
  return HTTPError::responseValidationFailed(std::move(reason));
}

[[nodiscard]] inline HTTPError dataFileReadFailed(platform::URL url) {
  ValidationReason reason{};
  reason.kind = ValidationReason::Kind::dataFileReadFailed;
  reason.url = std::move(url);
  return HTTPError::responseValidationFailed(std::move(reason));
}

[[nodiscard]] inline HTTPError customValidationFailed(platform::ErrorPtr error) {
  ValidationReason reason{};
  reason.kind = ValidationReason::Kind::customValidationFailed;
  reason.error = std::move(error);
  return HTTPError::responseValidationFailed(std::move(reason));
}

}  // namespace tolvane::http::failures
