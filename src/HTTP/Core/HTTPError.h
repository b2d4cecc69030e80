#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "HTTP/Core/StringEncoding.h"
#include "HTTP/Core/URLConvertible.h"
#include "Platform/Data.h"
#include "Platform/Error.h"
#include "Platform/URL.h"

namespace tolvane::http {

// The one error type of the HTTP layer: seventeen cases, each carrying its cause (an
// underlying error, a URL, a status code, or a nested reason) as one variant payload. Its
// localizedDescription() is the English message a person may see, composed when read from the
// payload (HTTPErrorMessages.cpp). An immutable, copyable value; payload errors are shared.
class HTTPError final : public platform::Error {
 public:
  enum class Kind {
    createUploadableFailed,
    createURLRequestFailed,
    downloadedFileMoveFailed,
    invalidURL,
    multipartEncodingFailed,
    parameterEncodingFailed,
    parameterEncoderFailed,
    requestAdaptationFailed,
    requestRetryFailed,
    responseValidationFailed,
    responseSerializationFailed,
    serverTrustEvaluationFailed,
    sessionInvalidated,
    sessionTaskFailed,
    urlRequestValidationFailed,
    explicitlyCancelled,
    sessionDeinitialized,
  };

  struct MultipartEncodingFailureReason {
    enum class Kind {
      bodyPartURLInvalid,
      bodyPartFilenameInvalid,
      bodyPartFileNotReachable,
      bodyPartFileNotReachableWithError,
      bodyPartFileIsDirectory,
      bodyPartFileSizeNotAvailable,
      bodyPartFileSizeQueryFailedWithError,
      bodyPartInputStreamCreationFailed,
      outputStreamCreationFailed,
      outputStreamFileAlreadyExists,
      outputStreamURLInvalid,
      outputStreamWriteFailed,
      inputStreamReadFailed,
    };
    Kind kind{};
    std::optional<platform::URL> url;  // every case but the two stream-error ones
    platform::ErrorPtr error;          // the four "...WithError"/stream-error cases

    static MultipartEncodingFailureReason make(Kind kind, std::optional<platform::URL> url,
                                               platform::ErrorPtr error = nullptr) {
      MultipartEncodingFailureReason r{};
      r.kind = kind;
      r.url = std::move(url);
      r.error = std::move(error);
      return r;
    }
    static MultipartEncodingFailureReason bodyPartURLInvalid(platform::URL url) {
      return make(Kind::bodyPartURLInvalid, url);
    }
    static MultipartEncodingFailureReason bodyPartFilenameInvalid(platform::URL in) {
      return make(Kind::bodyPartFilenameInvalid, in);
    }
    static MultipartEncodingFailureReason bodyPartFileNotReachable(platform::URL at) {
      return make(Kind::bodyPartFileNotReachable, at);
    }
    static MultipartEncodingFailureReason bodyPartFileNotReachableWithError(
        platform::URL atURL, platform::ErrorPtr error) {
      return make(Kind::bodyPartFileNotReachableWithError, atURL, std::move(error));
    }
    static MultipartEncodingFailureReason bodyPartFileIsDirectory(platform::URL at) {
      return make(Kind::bodyPartFileIsDirectory, at);
    }
    static MultipartEncodingFailureReason bodyPartFileSizeNotAvailable(platform::URL at) {
      return make(Kind::bodyPartFileSizeNotAvailable, at);
    }
    static MultipartEncodingFailureReason bodyPartFileSizeQueryFailedWithError(
        platform::URL forURL, platform::ErrorPtr error) {
      return make(Kind::bodyPartFileSizeQueryFailedWithError, forURL, std::move(error));
    }
    static MultipartEncodingFailureReason bodyPartInputStreamCreationFailed(platform::URL for_) {
      return make(Kind::bodyPartInputStreamCreationFailed, for_);
    }
    static MultipartEncodingFailureReason outputStreamCreationFailed(platform::URL for_) {
      return make(Kind::outputStreamCreationFailed, for_);
    }
    static MultipartEncodingFailureReason outputStreamFileAlreadyExists(platform::URL at) {
      return make(Kind::outputStreamFileAlreadyExists, at);
    }
    static MultipartEncodingFailureReason outputStreamURLInvalid(platform::URL url) {
      return make(Kind::outputStreamURLInvalid, url);
    }
    static MultipartEncodingFailureReason outputStreamWriteFailed(platform::ErrorPtr error) {
      return make(Kind::outputStreamWriteFailed, std::nullopt, std::move(error));
    }
    static MultipartEncodingFailureReason inputStreamReadFailed(platform::ErrorPtr error) {
      return make(Kind::inputStreamReadFailed, std::nullopt, std::move(error));
    }

    [[nodiscard]] std::string message() const;
  };

  struct ParameterEncodingFailureReason {
    enum class Kind { jsonEncodingFailed, customEncodingFailed, missingURL };
    Kind kind{};
    platform::ErrorPtr error;  // null for missingURL

    static ParameterEncodingFailureReason make(Kind kind, platform::ErrorPtr error) {
      ParameterEncodingFailureReason r{};
      r.kind = kind;
      r.error = std::move(error);
      return r;
    }
    static ParameterEncodingFailureReason jsonEncodingFailed(platform::ErrorPtr error) {
      return make(Kind::jsonEncodingFailed, std::move(error));
    }
    static ParameterEncodingFailureReason customEncodingFailed(platform::ErrorPtr error) {
      return make(Kind::customEncodingFailed, std::move(error));
    }
    static ParameterEncodingFailureReason missingURL() { return make(Kind::missingURL, nullptr); }

    [[nodiscard]] std::string message() const;
  };

  struct ParameterEncoderFailureReason {
    struct RequiredComponent {
      enum class Kind { httpMethod, url };
      Kind kind{};
      std::string rawValue;  // httpMethod only
      static RequiredComponent httpMethod(std::string rawValue) {
        RequiredComponent c{};
        c.kind = Kind::httpMethod;
        c.rawValue = std::move(rawValue);
        return c;
      }
      static RequiredComponent url() {
        RequiredComponent c{};
        c.kind = Kind::url;
        return c;
      }
      // "url", or "httpMethod(rawValue: \"GET\")".
      [[nodiscard]] std::string description() const;
    };
    enum class Kind { missingRequiredComponent, encoderFailed };
    Kind kind{};
    RequiredComponent component = RequiredComponent::url();  // missingRequiredComponent
    platform::ErrorPtr error;                                // encoderFailed

    static ParameterEncoderFailureReason missingRequiredComponent(RequiredComponent component) {
      ParameterEncoderFailureReason r{};
      r.kind = Kind::missingRequiredComponent;
      r.component = std::move(component);
      return r;
    }
    static ParameterEncoderFailureReason encoderFailed(platform::ErrorPtr error) {
      ParameterEncoderFailureReason r{};
      r.kind = Kind::encoderFailed;
      r.error = std::move(error);
      return r;
    }

    [[nodiscard]] std::string message() const;
  };

  struct ResponseValidationFailureReason {
    enum class Kind {
      dataFileReadFailed,
      missingContentType,
      unacceptableContentType,
      unacceptableStatusCode,
      customValidationFailed,
      dataFileNil,
    };
    Kind kind{};
    std::optional<platform::URL> url;                 // dataFileReadFailed
    std::vector<std::string> acceptableContentTypes;  // missing/unacceptableContentType
    std::string responseContentType;                  // unacceptableContentType
    int code = 0;                                     // unacceptableStatusCode
    platform::ErrorPtr error;                         // customValidationFailed

    static ResponseValidationFailureReason dataFileReadFailed(platform::URL at) {
      auto r = make(Kind::dataFileReadFailed);
      r.url = std::move(at);
      return r;
    }
    static ResponseValidationFailureReason missingContentType(
        std::vector<std::string> acceptableContentTypes) {
      auto r = make(Kind::missingContentType);
      r.acceptableContentTypes = std::move(acceptableContentTypes);
      return r;
    }
    static ResponseValidationFailureReason unacceptableContentType(
        std::vector<std::string> acceptableContentTypes, std::string responseContentType) {
      auto r = make(Kind::unacceptableContentType);
      r.acceptableContentTypes = std::move(acceptableContentTypes);
      r.responseContentType = std::move(responseContentType);
      return r;
    }
    static ResponseValidationFailureReason unacceptableStatusCode(int code) {
      auto r = make(Kind::unacceptableStatusCode);
      r.code = code;
      return r;
    }
    static ResponseValidationFailureReason customValidationFailed(platform::ErrorPtr error) {
      auto r = make(Kind::customValidationFailed);
      r.error = std::move(error);
      return r;
    }
    static ResponseValidationFailureReason dataFileNil() { return make(Kind::dataFileNil); }

    [[nodiscard]] std::string message() const;

   private:
    static ResponseValidationFailureReason make(Kind kind) {
      ResponseValidationFailureReason r{};
      r.kind = kind;
      return r;
    }

   public:
  };

  struct ResponseSerializationFailureReason {
    enum class Kind {
      inputFileReadFailed,
      stringSerializationFailed,
      jsonSerializationFailed,
      decodingFailed,
      customSerializationFailed,
      invalidEmptyResponse,
      inputDataNilOrZeroLength,
      inputFileNil,
    };
    Kind kind{};
    std::optional<platform::URL> url;                // inputFileReadFailed
    StringEncoding encoding = StringEncoding::utf8;  // stringSerializationFailed
    platform::ErrorPtr error;                        // json/decoding/customSerializationFailed
    std::string type;                                // invalidEmptyResponse

    static ResponseSerializationFailureReason inputFileReadFailed(platform::URL at) {
      auto r = make(Kind::inputFileReadFailed);
      r.url = std::move(at);
      return r;
    }
    static ResponseSerializationFailureReason stringSerializationFailed(StringEncoding encoding) {
      auto r = make(Kind::stringSerializationFailed);
      r.encoding = encoding;
      return r;
    }
    static ResponseSerializationFailureReason jsonSerializationFailed(platform::ErrorPtr error) {
      return withError(Kind::jsonSerializationFailed, std::move(error));
    }
    static ResponseSerializationFailureReason decodingFailed(platform::ErrorPtr error) {
      return withError(Kind::decodingFailed, std::move(error));
    }
    static ResponseSerializationFailureReason customSerializationFailed(platform::ErrorPtr error) {
      return withError(Kind::customSerializationFailed, std::move(error));
    }
    static ResponseSerializationFailureReason invalidEmptyResponse(std::string type) {
      auto r = make(Kind::invalidEmptyResponse);
      r.type = std::move(type);
      return r;
    }
    static ResponseSerializationFailureReason inputDataNilOrZeroLength() {
      return make(Kind::inputDataNilOrZeroLength);
    }
    static ResponseSerializationFailureReason inputFileNil() { return make(Kind::inputFileNil); }

    [[nodiscard]] std::string message() const;

   private:
    static ResponseSerializationFailureReason make(Kind kind) {
      ResponseSerializationFailureReason r{};
      r.kind = kind;
      return r;
    }
    static ResponseSerializationFailureReason withError(Kind kind, platform::ErrorPtr error) {
      auto r = make(kind);
      r.error = std::move(error);
      return r;
    }

   public:
  };

  // Server trust evaluation is not implemented by this layer; the platform's security
  // objects (trusts, policies, certificates, keys) are carried as opaque texts.
  struct ServerTrustFailureReason {
    struct Output {
      std::string host;
      std::string trust;
      std::int32_t status = 0;
      std::string result;
    };
    enum class Kind {
      noRequiredEvaluator,
      policyApplicationFailed,
      settingAnchorCertificatesFailed,
      trustEvaluationFailed,
      defaultEvaluationFailed,
      hostValidationFailed,
      revocationCheckFailed,
      certificatePinningFailed,
      publicKeyPinningFailed,
      customEvaluationFailed,
      noCertificatesFound,
      noPublicKeysFound,
      revocationPolicyCreationFailed,
    };
    Kind kind{};
    std::string host;                    // noRequiredEvaluator, certificate/publicKeyPinningFailed
    std::string trust;                   // policyApplicationFailed, pinning cases
    std::string policy;                  // policyApplicationFailed
    std::int32_t status = 0;             // policyApplicationFailed, settingAnchorCertificatesFailed
    std::vector<std::string> pinned;     // anchor certificates, pinned certificates or keys
    std::vector<std::string> presented;  // the server's certificates or keys
    std::optional<Output> output;        // default/host/revocation evaluation cases
    std::uint64_t options = 0;           // revocationCheckFailed
    platform::ErrorPtr error;  // trustEvaluationFailed (may be null), customEvaluationFailed

    // Only the cases' shapes matter here; fields not given stay empty.
    static ServerTrustFailureReason make(Kind kind) {
      ServerTrustFailureReason r{};
      r.kind = kind;
      return r;
    }
    static ServerTrustFailureReason withHost(Kind kind, std::string host) {
      auto r = make(kind);
      r.host = std::move(host);
      return r;
    }
    static ServerTrustFailureReason withOutput(Kind kind, Output output) {
      auto r = make(kind);
      r.output = std::move(output);
      return r;
    }
    static ServerTrustFailureReason withError(Kind kind, platform::ErrorPtr error) {
      auto r = make(kind);
      r.error = std::move(error);
      return r;
    }

    [[nodiscard]] std::string message() const;
  };

  struct URLRequestValidationFailureReason {
    enum class Kind { bodyDataInGETRequest };
    Kind kind = Kind::bodyDataInGETRequest;
    platform::Data data;

    static URLRequestValidationFailureReason bodyDataInGETRequest(platform::Data data) {
      URLRequestValidationFailureReason r{};
      r.data = std::move(data);
      return r;
    }

    [[nodiscard]] std::string message() const;
  };

  // The cases.
  [[nodiscard]] static HTTPError createUploadableFailed(platform::ErrorPtr error);
  [[nodiscard]] static HTTPError createURLRequestFailed(platform::ErrorPtr error);
  [[nodiscard]] static HTTPError downloadedFileMoveFailed(platform::ErrorPtr error,
                                                          platform::URL source,
                                                          platform::URL destination);
  [[nodiscard]] static HTTPError invalidURL(URLConvertible url);
  [[nodiscard]] static HTTPError multipartEncodingFailed(MultipartEncodingFailureReason reason);
  [[nodiscard]] static HTTPError parameterEncodingFailed(ParameterEncodingFailureReason reason);
  [[nodiscard]] static HTTPError parameterEncoderFailed(ParameterEncoderFailureReason reason);
  [[nodiscard]] static HTTPError requestAdaptationFailed(platform::ErrorPtr error);
  [[nodiscard]] static HTTPError requestRetryFailed(platform::ErrorPtr retryError,
                                                    platform::ErrorPtr originalError);
  [[nodiscard]] static HTTPError responseValidationFailed(ResponseValidationFailureReason reason);
  [[nodiscard]] static HTTPError responseSerializationFailed(
      ResponseSerializationFailureReason reason);
  [[nodiscard]] static HTTPError serverTrustEvaluationFailed(ServerTrustFailureReason reason);
  [[nodiscard]] static HTTPError sessionInvalidated(platform::ErrorPtr error);  // null: no error
  [[nodiscard]] static HTTPError sessionTaskFailed(platform::ErrorPtr error);
  [[nodiscard]] static HTTPError urlRequestValidationFailed(
      URLRequestValidationFailureReason reason);
  [[nodiscard]] static HTTPError explicitlyCancelled();
  [[nodiscard]] static HTTPError sessionDeinitialized();

  [[nodiscard]] Kind kind() const { return kind_; }

  // The message of this value (never empty).
  [[nodiscard]] std::string errorDescription() const;
  [[nodiscard]] std::string localizedDescription() const override { return errorDescription(); }

  // The wrapped cause; for requestRetryFailed the retry error.
  [[nodiscard]] platform::ErrorPtr underlyingError() const;
  // Resume data of a transport error underneath, if it carries any.
  [[nodiscard]] std::optional<platform::Data> downloadResumeData() const;

  [[nodiscard]] std::optional<URLConvertible> urlConvertible() const;
  [[nodiscard]] std::optional<platform::URL> url() const;
  [[nodiscard]] std::optional<std::vector<std::string>> acceptableContentTypes() const;
  [[nodiscard]] std::optional<std::string> responseContentType() const;
  [[nodiscard]] std::optional<int> responseCode() const;
  [[nodiscard]] std::optional<StringEncoding> failedStringEncoding() const;
  [[nodiscard]] std::optional<platform::URL> sourceURL() const;
  [[nodiscard]] std::optional<platform::URL> destinationURL() const;

  // Payloads, for code that needs the whole reason; none for other cases.
  [[nodiscard]] const MultipartEncodingFailureReason* multipartEncodingReason() const;
  [[nodiscard]] const ParameterEncodingFailureReason* parameterEncodingReason() const;
  [[nodiscard]] const ParameterEncoderFailureReason* parameterEncoderReason() const;
  [[nodiscard]] const ResponseValidationFailureReason* responseValidationReason() const;
  [[nodiscard]] const ResponseSerializationFailureReason* responseSerializationReason() const;
  [[nodiscard]] const ServerTrustFailureReason* serverTrustReason() const;
  [[nodiscard]] const URLRequestValidationFailureReason* urlRequestValidationReason() const;
  // originalError of requestRetryFailed.
  [[nodiscard]] platform::ErrorPtr originalError() const;

  [[nodiscard]] bool isCreateUploadableError() const {
    return kind_ == Kind::createUploadableFailed;
  }
  [[nodiscard]] bool isCreateURLRequestError() const {
    return kind_ == Kind::createURLRequestFailed;
  }
  [[nodiscard]] bool isDownloadedFileMoveError() const {
    return kind_ == Kind::downloadedFileMoveFailed;
  }
  [[nodiscard]] bool isInvalidURLError() const { return kind_ == Kind::invalidURL; }
  [[nodiscard]] bool isMultipartEncodingError() const {
    return kind_ == Kind::multipartEncodingFailed;
  }
  [[nodiscard]] bool isParameterEncodingError() const {
    return kind_ == Kind::parameterEncodingFailed;
  }
  [[nodiscard]] bool isParameterEncoderError() const {
    return kind_ == Kind::parameterEncoderFailed;
  }
  [[nodiscard]] bool isRequestAdaptationError() const {
    return kind_ == Kind::requestAdaptationFailed;
  }
  [[nodiscard]] bool isRequestRetryError() const { return kind_ == Kind::requestRetryFailed; }
  [[nodiscard]] bool isResponseValidationError() const {
    return kind_ == Kind::responseValidationFailed;
  }
  [[nodiscard]] bool isResponseSerializationError() const {
    return kind_ == Kind::responseSerializationFailed;
  }
  [[nodiscard]] bool isServerTrustEvaluationError() const {
    return kind_ == Kind::serverTrustEvaluationFailed;
  }
  [[nodiscard]] bool isSessionInvalidatedError() const { return kind_ == Kind::sessionInvalidated; }
  [[nodiscard]] bool isSessionTaskError() const { return kind_ == Kind::sessionTaskFailed; }
  [[nodiscard]] bool isExplicitlyCancelledError() const {
    return kind_ == Kind::explicitlyCancelled;
  }
  [[nodiscard]] bool isSessionDeinitializedError() const {
    return kind_ == Kind::sessionDeinitialized;
  }

 private:
  // The payloads of the cases that carry more than a reason.
  struct Cause {
    platform::ErrorPtr error;  // may be null for sessionInvalidated
  };
  struct FileMove {
    platform::ErrorPtr error;
    platform::URL source;
    platform::URL destination;
  };
  struct RetryFailure {
    platform::ErrorPtr retryError;
    platform::ErrorPtr originalError;
  };
  // One alternative per shape of case: the kind says which case, the payload what it holds.
  using Payload = std::variant<std::monostate, Cause, FileMove, URLConvertible, RetryFailure,
                               MultipartEncodingFailureReason, ParameterEncodingFailureReason,
                               ParameterEncoderFailureReason, ResponseValidationFailureReason,
                               ResponseSerializationFailureReason, ServerTrustFailureReason,
                               URLRequestValidationFailureReason>;

  HTTPError(Kind kind, Payload payload) : kind_(kind), payload_(std::move(payload)) {}
  template <typename T>
  [[nodiscard]] const T* payload() const {
    return std::get_if<T>(&payload_);
  }

  Kind kind_;
  Payload payload_;
};

// The error itself when it is an HTTPError, else `makeDefault()` (only then called).
[[nodiscard]] HTTPError asHTTPError(const platform::Error& error,
                                    const std::function<HTTPError()>& makeDefault);
[[nodiscard]] HTTPError asHTTPError(const platform::ErrorPtr& error,
                                    const std::function<HTTPError()>& makeDefault);
// The error itself when it is an HTTPError; otherwise a broken invariant of the layer:
// prints `message` and stops the process.
[[nodiscard]] HTTPError asHTTPError(const platform::Error& error, std::string_view orFailWith);
[[nodiscard]] HTTPError asHTTPError(const platform::ErrorPtr& error, std::string_view orFailWith);

}  // namespace tolvane::http
