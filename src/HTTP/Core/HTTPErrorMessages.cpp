// The messages of HTTPError and its reasons: the English texts a person may see, composed
// from the payload when read.
#include "HTTP/Core/HTTPError.h"
#include "Platform/Text.h"

namespace tolvane::http {
namespace {

using platform::ErrorPtr;

// "localized description of an error"; payloads that should carry an error but do not
// still give a sentence rather than a crash.
std::string localized(const ErrorPtr& error) {
  return error ? error->localizedDescription() : "No description.";
}
// "text of an error": its default textual form.
std::string textOf(const ErrorPtr& error) { return error ? error->debugDescription() : "nil"; }
std::string textOf(const std::optional<platform::URL>& url) {
  return url ? url->absoluteString() : "nil";
}

std::string joined(const std::vector<std::string>& types) {
  std::string out;
  for (std::size_t i = 0; i < types.size(); ++i) {
    if (i > 0) out += ",";
    out += types[i];
  }
  return out;
}

}  // namespace

// --- Reason messages -----------------------------------------------------------------

std::string HTTPError::MultipartEncodingFailureReason::message() const {
  const std::string u = textOf(url);
  switch (kind) {
    case Kind::bodyPartURLInvalid:
      return "The URL provided is not a file URL: " + u;
    case Kind::bodyPartFilenameInvalid:
      return "The URL provided does not have a valid filename: " + u;
    case Kind::bodyPartFileNotReachable:
      return "The URL provided is not reachable: " + u;
    case Kind::bodyPartFileNotReachableWithError:
      return "The system returned an error while checking the provided URL for "
             "reachability.\nURL: " +
             u + "\nError: " + textOf(error);
    case Kind::bodyPartFileIsDirectory:
      return "The URL provided is a directory: " + u;
    case Kind::bodyPartFileSizeNotAvailable:
      return "Could not fetch the file size from the provided URL: " + u;
    case Kind::bodyPartFileSizeQueryFailedWithError:
      return "The system returned an error while attempting to fetch the file size from the "
             "provided URL.\nURL: " +
             u + "\nError: " + textOf(error);
    case Kind::bodyPartInputStreamCreationFailed:
      return "Failed to create an InputStream for the provided URL: " + u;
    case Kind::outputStreamCreationFailed:
      return "Failed to create an OutputStream for URL: " + u;
    case Kind::outputStreamFileAlreadyExists:
      return "A file already exists at the provided URL: " + u;
    case Kind::outputStreamURLInvalid:
      return "The provided OutputStream URL is invalid: " + u;
    case Kind::outputStreamWriteFailed:
      return "OutputStream write failed with error: " + textOf(error);
    case Kind::inputStreamReadFailed:
      return "InputStream read failed with error: " + textOf(error);
  }
  return {};
}

std::string HTTPError::ParameterEncodingFailureReason::message() const {
  switch (kind) {
    case Kind::jsonEncodingFailed:
      return "JSON could not be encoded because of error:\n" + localized(error);
    case Kind::customEncodingFailed:
      return "Custom parameter encoder failed with error: " + localized(error);
    case Kind::missingURL:
      return "URL request to encode was missing a URL";
  }
  return {};
}

std::string HTTPError::ParameterEncoderFailureReason::RequiredComponent::description() const {
  // An enumeration case with a labelled payload prints as case(label: "value").
  if (kind == Kind::url) return "url";
  return "httpMethod(rawValue: \"" + rawValue + "\")";
}

std::string HTTPError::ParameterEncoderFailureReason::message() const {
  switch (kind) {
    case Kind::missingRequiredComponent:
      return "Encoding failed due to a missing request component: " + component.description();
    case Kind::encoderFailed:
      return "The underlying encoder failed with the error: " + textOf(error);
  }
  return {};
}

std::string HTTPError::ResponseValidationFailureReason::message() const {
  switch (kind) {
    case Kind::dataFileReadFailed:
      return "Response could not be validated, data file could not be read: " + textOf(url) + ".";
    case Kind::missingContentType:
      return "Response Content-Type was missing and acceptable content types (" +
             joined(acceptableContentTypes) + ") do not match \"*/*\".";
    case Kind::unacceptableContentType:
      return "Response Content-Type \"" + responseContentType +
             "\" does not match any acceptable types: " + joined(acceptableContentTypes) + ".";
    case Kind::unacceptableStatusCode:
      return "Response status code was unacceptable: " + std::to_string(code) + ".";
    case Kind::customValidationFailed:
      return "Custom response validation failed with error: " + localized(error);
    case Kind::dataFileNil:
      return "Response could not be validated, data file was nil.";
  }
  return {};
}

std::string HTTPError::ResponseSerializationFailureReason::message() const {
  switch (kind) {
    case Kind::inputFileReadFailed:
      return "Response could not be serialized, input file could not be read: " + textOf(url) + ".";
    case Kind::stringSerializationFailed:
      return "String could not be serialized with encoding: " + description(encoding) + ".";
    case Kind::jsonSerializationFailed:
      return "JSON could not be serialized because of error:\n" + localized(error);
    case Kind::decodingFailed:
      return "Response could not be decoded because of error:\n" + localized(error);
    case Kind::customSerializationFailed:
      return "Custom response serializer failed with error:\n" + localized(error);
    case Kind::invalidEmptyResponse:
      return "Empty response could not be serialized to type: " + type +
             ". Use Empty as the expected type for such responses.";
    case Kind::inputDataNilOrZeroLength:
      return "Response could not be serialized, input data was nil or zero length.";
    case Kind::inputFileNil:
      return "Response could not be serialized, input file was nil.";
  }
  return {};
}

std::string HTTPError::ServerTrustFailureReason::message() const {
  const std::string outputHost = output ? output->host : host;
  switch (kind) {
    case Kind::noRequiredEvaluator:
      return "A ServerTrustEvaluating value is required for host " + host + " but none was found.";
    case Kind::policyApplicationFailed:
      return "Attempting to set a SecPolicy failed.";
    case Kind::settingAnchorCertificatesFailed:
      return "Attempting to set the provided certificates as anchor certificates failed.";
    case Kind::trustEvaluationFailed:
      return "SecTrust evaluation failed with error: " +
             (error ? error->localizedDescription() : "None");
    case Kind::defaultEvaluationFailed:
      return "Default evaluation failed for host " + outputHost + ".";
    case Kind::hostValidationFailed:
      return "Host validation failed for host " + outputHost + ".";
    case Kind::revocationCheckFailed:
      return "Revocation check failed for host " + outputHost + ".";
    case Kind::certificatePinningFailed:
      return "Certificate pinning failed for host " + host + ".";
    case Kind::publicKeyPinningFailed:
      return "Public key pinning failed for host " + host + ".";
    case Kind::customEvaluationFailed:
      return "Custom trust evaluation failed with error: " + localized(error);
    case Kind::noCertificatesFound:
      return "No certificates were found or provided for evaluation.";
    case Kind::noPublicKeysFound:
      return "No public keys were found or provided for evaluation.";
    case Kind::revocationPolicyCreationFailed:
      return "Attempting to create a revocation policy failed.";
  }
  return {};
}

std::string HTTPError::URLRequestValidationFailureReason::message() const {
  return "Invalid URLRequest: Requests with GET method cannot have body data:\n" +
         platform::lossyUTF8(data);
}

// --- Error messages --------------------------------------------------------------------

std::string HTTPError::errorDescription() const {
  switch (kind_) {
    case Kind::createUploadableFailed:
      return "Uploadable creation failed with error: " + localized(payload<Cause>()->error);
    case Kind::createURLRequestFailed:
      return "URLRequest creation failed with error: " + localized(payload<Cause>()->error);
    case Kind::downloadedFileMoveFailed:
      return "Moving downloaded file from: " + payload<FileMove>()->source.absoluteString() +
             " to: " + payload<FileMove>()->destination.absoluteString() +
             " failed with error: " + localized(payload<FileMove>()->error);
    case Kind::invalidURL:
      return "URL is not valid: " + payload<URLConvertible>()->description();
    case Kind::multipartEncodingFailed:
      return multipartEncodingReason()->message();
    case Kind::parameterEncodingFailed:
      return parameterEncodingReason()->message();
    case Kind::parameterEncoderFailed:
      return parameterEncoderReason()->message();
    case Kind::requestAdaptationFailed:
      return "Request adaption failed with error: " + localized(payload<Cause>()->error);
    case Kind::requestRetryFailed:
      return "Request retry failed with retry error: " +
             localized(payload<RetryFailure>()->retryError) +
             ", original error: " + localized(payload<RetryFailure>()->originalError);
    case Kind::responseValidationFailed:
      return responseValidationReason()->message();
    case Kind::responseSerializationFailed:
      return responseSerializationReason()->message();
    case Kind::serverTrustEvaluationFailed:
      return "Server trust evaluation failed due to reason: " + serverTrustReason()->message();
    case Kind::sessionInvalidated:
      return "Session was invalidated with error: " + localized(payload<Cause>()->error);
    case Kind::sessionTaskFailed:
      return "URLSessionTask failed with error: " + localized(payload<Cause>()->error);
    case Kind::urlRequestValidationFailed:
      return "URLRequest validation failed due to reason: " +
             urlRequestValidationReason()->message();
    case Kind::explicitlyCancelled:
      return "Request explicitly cancelled.";
    case Kind::sessionDeinitialized:
      return "Session was invalidated without error, so it was likely deinitialized unexpectedly. "
             "Be sure to "
             "retain a reference to your Session for the duration of your requests.";
  }
  return "Unknown error.";
}

}  // namespace tolvane::http
