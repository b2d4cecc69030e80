#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "HTTP/Core/HTTPHeaders.h"
#include "HTTP/Core/HTTPMethod.h"
#include "HTTP/Core/ParameterEncoding.h"
#include "HTTP/Core/URLConvertible.h"
#include "Platform/Error.h"
#include "Platform/URLRequest.h"

namespace tolvane::http {

// Changes a freshly built URL request in place; a non-null error ends the building.
using RequestModifier = std::function<platform::ErrorPtr(platform::URLRequest&)>;

// Builds a URL request with the layer's defaults: the URL from `url` (errors pass through),
// the transport's default cache policy, a 60-second time-out, the method's text, and the
// headers as given (none when absent).
[[nodiscard]] Result<platform::URLRequest> makeURLRequest(
    const URLConvertible& url, const HTTPMethod& method, const std::optional<HTTPHeaders>& headers);

// The recipe the URL-based entry points of a session keep for a request: built again for
// every attempt. Immutable value.
class RequestConvertible final : public URLRequestConvertible {
 public:
  RequestConvertible(URLConvertible url, HTTPMethod method, std::optional<Parameters> parameters,
                     std::shared_ptr<const ParameterEncoding> encoding,
                     std::optional<HTTPHeaders> headers, RequestModifier requestModifier);

  [[nodiscard]] const URLConvertible& url() const { return url_; }
  [[nodiscard]] const HTTPMethod& method() const { return method_; }
  [[nodiscard]] const std::optional<Parameters>& parameters() const { return parameters_; }
  [[nodiscard]] const std::shared_ptr<const ParameterEncoding>& encoding() const {
    return encoding_;
  }
  [[nodiscard]] const std::optional<HTTPHeaders>& headers() const { return headers_; }
  [[nodiscard]] const RequestModifier& requestModifier() const { return requestModifier_; }

  // Builds the request, runs the modifier on it, then lets the encoding place the
  // parameters. A modifier's error that is not the layer's own becomes createURLRequestFailed.
  [[nodiscard]] Result<platform::URLRequest> asURLRequest() const override;

 private:
  URLConvertible url_;
  HTTPMethod method_;
  std::optional<Parameters> parameters_;
  std::shared_ptr<const ParameterEncoding> encoding_;
  std::optional<HTTPHeaders> headers_;
  RequestModifier requestModifier_;
};

// A URL request used as it is.
class URLRequestValue final : public URLRequestConvertible {
 public:
  explicit URLRequestValue(platform::URLRequest request) : request_(std::move(request)) {}
  [[nodiscard]] Result<platform::URLRequest> asURLRequest() const override { return request_; }

 private:
  platform::URLRequest request_;
};

}  // namespace tolvane::http
