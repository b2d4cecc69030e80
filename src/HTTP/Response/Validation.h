#pragma once

#include <algorithm>
#include <concepts>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <ranges>
#include <string>
#include <vector>

#include "HTTP/Core/DataRequest.h"
#include "HTTP/Core/DownloadRequest.h"
#include "HTTP/Response/ValidationResult.h"
#include "Platform/Data.h"
#include "Platform/HTTPURLResponse.h"
#include "Platform/URL.h"
#include "Platform/URLRequest.h"

// Response validation. A validator is attached to a request and runs once, when the
// request's transport task completes and before the retry-or-finish decision; the first
// failing validator's error becomes the request's error, and a request that already failed
// is not validated at all. Attaching is a free function that returns the request, so calls
// nest and the request can be handed on:
//
//   auto request = validate(session->request(url));
//   responseDecodable<LoaderModel>(request, DispatchQueue::main(), handler);
namespace tolvane::http {

// (last URL request, HTTP response, body received so far) -> verdict.
using DataValidation = std::function<ValidationResult(
    const std::optional<platform::URLRequest>& request, const platform::HTTPURLResponse& response,
    const std::optional<platform::Data>& data)>;
// (last URL request, HTTP response, where the downloaded file was put) -> verdict.
using DownloadValidation = std::function<ValidationResult(
    const std::optional<platform::URLRequest>& request, const platform::HTTPURLResponse& response,
    const std::optional<platform::URL>& fileURL)>;
// The acceptable content types, asked for each time a validator runs.
using AcceptableContentTypes = std::function<std::vector<std::string>()>;

// The checks themselves, usable on their own.

// 200 ..< 300.
[[nodiscard]] bool isDefaultAcceptableStatusCode(int code);
// The request's Accept header split at every "," (pieces kept as they are; the media type
// parser trims them), or "*/*" when there is no request or no Accept header.
[[nodiscard]] std::vector<std::string> defaultAcceptableContentTypes(
    const std::optional<platform::URLRequest>& request);
// unacceptableStatusCode unless `acceptable(code)`.
[[nodiscard]] ValidationResult validateStatusCode(const platform::HTTPURLResponse& response,
                                                  const std::function<bool(int)>& acceptable);
// The response's media type against the acceptable list (missingContentType,
// unacceptableContentType).
[[nodiscard]] ValidationResult validateMediaType(const std::vector<std::string>& acceptable,
                                                 const platform::HTTPURLResponse& response);
// Data form: an absent or empty body passes whatever its type.
[[nodiscard]] ValidationResult validateContentType(const std::vector<std::string>& acceptable,
                                                   const platform::HTTPURLResponse& response,
                                                   const std::optional<platform::Data>& data);
// Download form: no file is dataFileNil, an unreadable one dataFileReadFailed, an empty one
// passes whatever its type.
[[nodiscard]] ValidationResult validateContentType(const std::vector<std::string>& acceptable,
                                                   const platform::HTTPURLResponse& response,
                                                   const std::optional<platform::URL>& fileURL);

// Attaching validators to data requests.

std::shared_ptr<DataRequest> validate(const std::shared_ptr<DataRequest>& request,
                                      DataValidation validation);
std::shared_ptr<DataRequest> validate(const std::shared_ptr<DataRequest>& request,
                                      std::function<bool(int)> statusCodeIsAcceptable);
std::shared_ptr<DataRequest> validate(const std::shared_ptr<DataRequest>& request,
                                      AcceptableContentTypes contentType);
// Status 200 ..< 300, then the default acceptable content types.
std::shared_ptr<DataRequest> validate(const std::shared_ptr<DataRequest>& request);

// The same for download requests.

std::shared_ptr<DownloadRequest> validate(const std::shared_ptr<DownloadRequest>& request,
                                          DownloadValidation validation);
std::shared_ptr<DownloadRequest> validate(const std::shared_ptr<DownloadRequest>& request,
                                          std::function<bool(int)> statusCodeIsAcceptable);
std::shared_ptr<DownloadRequest> validate(const std::shared_ptr<DownloadRequest>& request,
                                          AcceptableContentTypes contentType);
std::shared_ptr<DownloadRequest> validate(const std::shared_ptr<DownloadRequest>& request);

// Status codes from any collection of integers (a std::views::iota range, a set, a list).
template <typename RequestPtr, std::ranges::input_range Codes>
requires std::integral<std::ranges::range_value_t<Codes>>
auto validateStatusCodes(const RequestPtr& request, const Codes& codes) {
  std::vector<int> accepted(std::ranges::begin(codes), std::ranges::end(codes));
  return validate(request, std::function<bool(int)>([accepted = std::move(accepted)](int code) {
                    return std::ranges::find(accepted, code) != accepted.end();
                  }));
}

template <typename RequestPtr>
auto validateStatusCodes(const RequestPtr& request, std::initializer_list<int> codes) {
  return validateStatusCodes(request, std::vector<int>(codes));
}

}  // namespace tolvane::http
