#include "HTTP/Response/DebugDescription.h"

#include <chrono>
#include <string_view>

#include "HTTP/Response/ValueDescription.h"
#include "Platform/Text.h"

namespace tolvane::http::debugDescription {

namespace {

constexpr std::size_t kMaximumPrintedBodySize = 100'000;

}  // namespace

std::string indented(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  for (const char c : text) {
    result += c;
    if (c == '\n') result += "    ";
  }
  return result;
}

std::string headersBlock(const HTTPHeaders& headers) {
  if (headers.isEmpty()) return "[Headers]: None";
  return "[Headers]:\n    " + indented(headers.sorted().description());
}

std::string bodyBlock(const std::optional<platform::Data>& body, const HTTPHeaders& headers) {
  if (!body || body->empty()) return "[Body]: None";
  const auto contentType = headers.value("Content-Type").value_or("");
  const bool printable = contentType.find("json") != std::string::npos ||
                         contentType.find("xml") != std::string::npos ||
                         contentType.find("text") != std::string::npos;
  if (body->size() <= kMaximumPrintedBodySize && printable) {
    return "[Body]:\n    " + indented(std::string(platform::trimmed(platform::lossyUTF8(*body),
                                                                    platform::kWhiteSpace)));
  }
  return "[Body]: " + std::to_string(body->size()) + " bytes";
}

std::string requestBlock(const platform::URLRequest& request) {
  const auto requestHeaders = headers(request);
  const auto url = request.url ? request.url->absoluteString() : std::string("nil");
  return "[Request]: " + request.httpMethod + " " + url + "\n    " +
         indented(headersBlock(requestHeaders)) + "\n    " +
         indented(bodyBlock(request.httpBody, requestHeaders));
}

std::string responseBlock(const platform::HTTPURLResponse& response) {
  return "[Response]:\n    [Status Code]: " + std::to_string(response.statusCode) + "\n    " +
         indented(headersBlock(headers(response)));
}

std::string networkDurationLine(const std::optional<platform::URLSessionTaskMetrics>& metrics) {
  if (!metrics) return "[Network Duration]: None";
  const auto seconds = std::chrono::duration<double>(metrics->taskIntervalDuration).count();
  return "[Network Duration]: " + shortestDecimal(seconds) + "s";
}

std::string serializationDurationLine(double seconds) {
  return "[Serialization Duration]: " + shortestDecimal(seconds) + "s";
}

}  // namespace tolvane::http::debugDescription
