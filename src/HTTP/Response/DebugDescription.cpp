#include "HTTP/Response/DebugDescription.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string_view>

#include "HTTP/Response/ValueDescription.h"

namespace tolvane::http::debugDescription {

namespace {

constexpr std::size_t kMaximumPrintedBodySize = 100'000;

bool isWhitespaceOrNewline(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Invalid sequences become U+FFFD, one per offending byte.
std::string lossyUTF8(std::string_view bytes) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string text;
  text.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    std::size_t length = 0;
    unsigned int minimum = 0;
    unsigned int codePoint = 0;
    if (lead < 0x80) {
      text += static_cast<char>(lead);
      ++i;
      continue;
    }
    if ((lead & 0xE0) == 0xC0) {
      length = 2, minimum = 0x80, codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, minimum = 0x800, codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, minimum = 0x10000, codePoint = lead & 0x07;
    }
    bool valid = length != 0 && i + length <= bytes.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      valid = (next & 0xC0) == 0x80;
      codePoint = (codePoint << 6) | (next & 0x3F);
    }
    valid = valid && codePoint >= minimum && codePoint <= 0x10FFFF &&
            !(codePoint >= 0xD800 && codePoint <= 0xDFFF);
    if (valid) {
      text.append(bytes.substr(i, length));
      i += length;
    } else {
      text += kReplacement;
      ++i;
    }
  }
  return text;
}

std::string trimmed(const std::string& text) {
  auto begin = std::find_if_not(text.begin(), text.end(), [](char c) {
    return isWhitespaceOrNewline(static_cast<unsigned char>(c));
  });
  auto end = std::find_if_not(text.rbegin(), text.rend(), [](char c) {
               return isWhitespaceOrNewline(static_cast<unsigned char>(c));
             }).base();
  return begin < end ? std::string(begin, end) : std::string();
}

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
    return "[Body]:\n    " + indented(trimmed(lossyUTF8(*body)));
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
