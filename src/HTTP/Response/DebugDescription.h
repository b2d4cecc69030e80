#pragma once

#include <optional>
#include <string>

#include "HTTP/Core/HTTPHeaders.h"
#include "Platform/Data.h"
#include "Platform/HTTPURLResponse.h"
#include "Platform/URLRequest.h"
#include "Platform/URLSessionTaskMetrics.h"

// Pieces of the multi-line debug texts of DataResponse and DownloadResponse. Nested blocks
// are indented by four blanks per level.
namespace tolvane::http::debugDescription {

// Every line feed in `text` followed by four blanks.
[[nodiscard]] std::string indented(const std::string& text);

// "[Headers]: None", or "[Headers]:" and one "Name: value" per line, sorted by lower-cased name.
[[nodiscard]] std::string headersBlock(const HTTPHeaders& headers);

// "[Body]: None" for no or empty body; the body as (lossy) UTF-8 text, trimmed, when it is at
// most 100,000 bytes and the Content-Type in `headers` mentions json, xml or text; otherwise
// "[Body]: N bytes".
[[nodiscard]] std::string bodyBlock(const std::optional<platform::Data>& body,
                                    const HTTPHeaders& headers);

// "[Request]: METHOD URL" with the request's headers and body blocks.
[[nodiscard]] std::string requestBlock(const platform::URLRequest& request);

// "[Response]:" with the status code and the response's headers block.
[[nodiscard]] std::string responseBlock(const platform::HTTPURLResponse& response);

// "[Network Duration]: 0.25s" from the metrics' task interval, or "... None".
[[nodiscard]] std::string networkDurationLine(
    const std::optional<platform::URLSessionTaskMetrics>& metrics);

// "[Serialization Duration]: 0.0s".
[[nodiscard]] std::string serializationDurationLine(double seconds);

}  // namespace tolvane::http::debugDescription
