#include "HTTP/Core/HTTPError.h"

#include "Platform/Fatal.h"
#include "Platform/URLError.h"

namespace tolvane::http {

using platform::ErrorPtr;

// --- Cases ---------------------------------------------------------------------------

HTTPError HTTPError::createUploadableFailed(ErrorPtr error) {
  return {Kind::createUploadableFailed, Cause{std::move(error)}};
}
HTTPError HTTPError::createURLRequestFailed(ErrorPtr error) {
  return {Kind::createURLRequestFailed, Cause{std::move(error)}};
}
HTTPError HTTPError::downloadedFileMoveFailed(ErrorPtr error, platform::URL source,
                                              platform::URL destination) {
  return {Kind::downloadedFileMoveFailed,
          FileMove{std::move(error), std::move(source), std::move(destination)}};
}
HTTPError HTTPError::invalidURL(URLConvertible url) { return {Kind::invalidURL, std::move(url)}; }
HTTPError HTTPError::multipartEncodingFailed(MultipartEncodingFailureReason reason) {
  return {Kind::multipartEncodingFailed, std::move(reason)};
}
HTTPError HTTPError::parameterEncodingFailed(ParameterEncodingFailureReason reason) {
  return {Kind::parameterEncodingFailed, std::move(reason)};
}
HTTPError HTTPError::parameterEncoderFailed(ParameterEncoderFailureReason reason) {
  return {Kind::parameterEncoderFailed, std::move(reason)};
}
HTTPError HTTPError::requestAdaptationFailed(ErrorPtr error) {
  return {Kind::requestAdaptationFailed, Cause{std::move(error)}};
}
HTTPError HTTPError::requestRetryFailed(ErrorPtr retryError, ErrorPtr originalError) {
  return {Kind::requestRetryFailed, RetryFailure{std::move(retryError), std::move(originalError)}};
}
HTTPError HTTPError::responseValidationFailed(ResponseValidationFailureReason reason) {
  return {Kind::responseValidationFailed, std::move(reason)};
}
HTTPError HTTPError::responseSerializationFailed(ResponseSerializationFailureReason reason) {
  return {Kind::responseSerializationFailed, std::move(reason)};
}
HTTPError HTTPError::serverTrustEvaluationFailed(ServerTrustFailureReason reason) {
  return {Kind::serverTrustEvaluationFailed, std::move(reason)};
}
HTTPError HTTPError::sessionInvalidated(ErrorPtr error) {
  return {Kind::sessionInvalidated, Cause{std::move(error)}};
}
HTTPError HTTPError::sessionTaskFailed(ErrorPtr error) {
  return {Kind::sessionTaskFailed, Cause{std::move(error)}};
}
HTTPError HTTPError::urlRequestValidationFailed(URLRequestValidationFailureReason reason) {
  return {Kind::urlRequestValidationFailed, std::move(reason)};
}
HTTPError HTTPError::explicitlyCancelled() { return {Kind::explicitlyCancelled, {}}; }
HTTPError HTTPError::sessionDeinitialized() { return {Kind::sessionDeinitialized, {}}; }

// --- Reading -------------------------------------------------------------------------

platform::ErrorPtr HTTPError::underlyingError() const {
  switch (kind_) {
    case Kind::createUploadableFailed:
    case Kind::createURLRequestFailed:
    case Kind::requestAdaptationFailed:
    case Kind::sessionTaskFailed:
    case Kind::sessionInvalidated:
      return payload<Cause>()->error;
    case Kind::downloadedFileMoveFailed:
      return payload<FileMove>()->error;
    case Kind::requestRetryFailed:
      return payload<RetryFailure>()->retryError;
    case Kind::multipartEncodingFailed: {
      using K = MultipartEncodingFailureReason::Kind;
      const auto* r = multipartEncodingReason();
      const bool carries = r->kind == K::bodyPartFileNotReachableWithError ||
                           r->kind == K::bodyPartFileSizeQueryFailedWithError ||
                           r->kind == K::outputStreamWriteFailed ||
                           r->kind == K::inputStreamReadFailed;
      return carries ? r->error : nullptr;
    }
    case Kind::parameterEncodingFailed:
      return parameterEncodingReason()->kind == ParameterEncodingFailureReason::Kind::missingURL
                 ? nullptr
                 : parameterEncodingReason()->error;
    case Kind::parameterEncoderFailed:
      return parameterEncoderReason()->kind == ParameterEncoderFailureReason::Kind::encoderFailed
                 ? parameterEncoderReason()->error
                 : nullptr;
    case Kind::responseValidationFailed:
      return responseValidationReason()->kind ==
                     ResponseValidationFailureReason::Kind::customValidationFailed
                 ? responseValidationReason()->error
                 : nullptr;
    case Kind::responseSerializationFailed: {
      using K = ResponseSerializationFailureReason::Kind;
      const auto* r = responseSerializationReason();
      const bool carries = r->kind == K::jsonSerializationFailed || r->kind == K::decodingFailed ||
                           r->kind == K::customSerializationFailed;
      return carries ? r->error : nullptr;
    }
    case Kind::serverTrustEvaluationFailed: {
      using K = ServerTrustFailureReason::Kind;
      const auto* r = serverTrustReason();
      const bool carries =
          r->kind == K::trustEvaluationFailed || r->kind == K::customEvaluationFailed;
      return carries ? r->error : nullptr;
    }
    case Kind::invalidURL:
    case Kind::urlRequestValidationFailed:
    case Kind::explicitlyCancelled:
    case Kind::sessionDeinitialized:
      return nullptr;
  }
  return nullptr;
}

std::optional<platform::Data> HTTPError::downloadResumeData() const {
  const auto* urlError = dynamic_cast<const platform::URLError*>(underlyingError().get());
  if (urlError == nullptr) return std::nullopt;
  return urlError->downloadTaskResumeData();
}

std::optional<URLConvertible> HTTPError::urlConvertible() const {
  const auto* url = payload<URLConvertible>();
  return url ? std::optional(*url) : std::nullopt;
}

std::optional<platform::URL> HTTPError::url() const {
  const auto* r = multipartEncodingReason();
  if (r == nullptr) return std::nullopt;
  using K = MultipartEncodingFailureReason::Kind;
  if (r->kind == K::outputStreamWriteFailed || r->kind == K::inputStreamReadFailed)
    return std::nullopt;
  return r->url;
}

std::optional<std::vector<std::string>> HTTPError::acceptableContentTypes() const {
  const auto* r = responseValidationReason();
  using K = ResponseValidationFailureReason::Kind;
  if (r == nullptr || (r->kind != K::missingContentType && r->kind != K::unacceptableContentType))
    return std::nullopt;
  return r->acceptableContentTypes;
}

std::optional<std::string> HTTPError::responseContentType() const {
  const auto* r = responseValidationReason();
  if (r == nullptr || r->kind != ResponseValidationFailureReason::Kind::unacceptableContentType)
    return std::nullopt;
  return r->responseContentType;
}

std::optional<int> HTTPError::responseCode() const {
  const auto* r = responseValidationReason();
  if (r == nullptr || r->kind != ResponseValidationFailureReason::Kind::unacceptableStatusCode)
    return std::nullopt;
  return r->code;
}

std::optional<StringEncoding> HTTPError::failedStringEncoding() const {
  const auto* r = responseSerializationReason();
  if (r == nullptr ||
      r->kind != ResponseSerializationFailureReason::Kind::stringSerializationFailed) {
    return std::nullopt;
  }
  return r->encoding;
}

std::optional<platform::URL> HTTPError::sourceURL() const {
  const auto* move = payload<FileMove>();
  return move ? std::optional(move->source) : std::nullopt;
}

std::optional<platform::URL> HTTPError::destinationURL() const {
  const auto* move = payload<FileMove>();
  return move ? std::optional(move->destination) : std::nullopt;
}

const HTTPError::MultipartEncodingFailureReason* HTTPError::multipartEncodingReason() const {
  return payload<MultipartEncodingFailureReason>();
}
const HTTPError::ParameterEncodingFailureReason* HTTPError::parameterEncodingReason() const {
  return payload<ParameterEncodingFailureReason>();
}
const HTTPError::ParameterEncoderFailureReason* HTTPError::parameterEncoderReason() const {
  return payload<ParameterEncoderFailureReason>();
}
const HTTPError::ResponseValidationFailureReason* HTTPError::responseValidationReason() const {
  return payload<ResponseValidationFailureReason>();
}
const HTTPError::ResponseSerializationFailureReason* HTTPError::responseSerializationReason()
    const {
  return payload<ResponseSerializationFailureReason>();
}
const HTTPError::ServerTrustFailureReason* HTTPError::serverTrustReason() const {
  return payload<ServerTrustFailureReason>();
}
const HTTPError::URLRequestValidationFailureReason* HTTPError::urlRequestValidationReason() const {
  return payload<URLRequestValidationFailureReason>();
}

platform::ErrorPtr HTTPError::originalError() const {
  const auto* retry = payload<RetryFailure>();
  return retry ? retry->originalError : nullptr;
}

// --- Conversions ---------------------------------------------------------------------

HTTPError asHTTPError(const platform::Error& error, const std::function<HTTPError()>& makeDefault) {
  if (const auto* http = dynamic_cast<const HTTPError*>(&error)) return *http;
  return makeDefault();
}

HTTPError asHTTPError(const platform::ErrorPtr& error,
                      const std::function<HTTPError()>& makeDefault) {
  if (!error) return makeDefault();
  return asHTTPError(*error, makeDefault);
}

HTTPError asHTTPError(const platform::Error& error, std::string_view orFailWith) {
  if (const auto* http = dynamic_cast<const HTTPError*>(&error)) return *http;
  platform::fatalError(orFailWith);
}

HTTPError asHTTPError(const platform::ErrorPtr& error, std::string_view orFailWith) {
  if (!error) platform::fatalError(orFailWith);
  return asHTTPError(*error, orFailWith);
}

}  // namespace tolvane::http
