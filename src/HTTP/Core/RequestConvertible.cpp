#include "HTTP/Core/RequestConvertible.h"

namespace tolvane::http {

Result<platform::URLRequest> makeURLRequest(const URLConvertible& url, const HTTPMethod& method,
                                            const std::optional<HTTPHeaders>& headers) {
  auto resolved = url.asURL();
  if (resolved.isFailure()) return resolved.error();
  platform::URLRequest request(resolved.value());
  request.cachePolicy = platform::URLRequest::CachePolicy::useProtocolCachePolicy;
  request.timeoutInterval = 60.0;
  request.httpMethod = method.rawValue();
  request.allHTTPHeaderFields = headers ? headers->dictionary() : platform::HeaderFields{};
  return request;
}

RequestConvertible::RequestConvertible(URLConvertible url, HTTPMethod method,
                                       std::optional<Parameters> parameters,
                                       std::shared_ptr<const ParameterEncoding> encoding,
                                       std::optional<HTTPHeaders> headers,
                                       RequestModifier requestModifier)
    : url_(std::move(url)),
      method_(std::move(method)),
      parameters_(std::move(parameters)),
      encoding_(std::move(encoding)),
      headers_(std::move(headers)),
      requestModifier_(std::move(requestModifier)) {}

Result<platform::URLRequest> RequestConvertible::asURLRequest() const {
  auto built = makeURLRequest(url_, method_, headers_);
  if (built.isFailure()) return built;
  platform::URLRequest request = std::move(built).value();
  if (requestModifier_) {
    if (auto error = requestModifier_(request)) {
      return asHTTPError(error, [&] { return HTTPError::createURLRequestFailed(error); });
    }
  }
  if (!encoding_) return request;
  return encoding_->encode(std::move(request), parameters_);
}

}  // namespace tolvane::http
