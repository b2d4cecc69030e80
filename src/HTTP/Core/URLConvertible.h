#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "Platform/URL.h"
#include "Platform/URLComponents.h"
#include "Platform/URLRequest.h"

namespace tolvane::http {

template <typename T>
class Result;
class HTTPError;

// Whatever a caller passes as a request's address: a text, a URL or URL components. It is
// turned into a URL only when the request is built; the original value is kept so an
// error can show what was passed. Plain value.
class URLConvertible {
 public:
  URLConvertible(std::string text) : value_(std::move(text)) {}
  URLConvertible(std::string_view text) : value_(std::string(text)) {}
  URLConvertible(const char* text) : value_(std::string(text)) {}
  URLConvertible(platform::URL url) : value_(std::move(url)) {}
  URLConvertible(platform::URLComponents components) : value_(std::move(components)) {}

  // The URL, or HTTPError invalidURL carrying this value when it does not form one.
  [[nodiscard]] Result<platform::URL> asURL() const;

  // The value's text: the text itself, the absolute URL, the composed components.
  [[nodiscard]] std::string description() const;

  [[nodiscard]] const std::variant<std::string, platform::URL, platform::URLComponents>& value()
      const {
    return value_;
  }

  friend bool operator==(const URLConvertible&, const URLConvertible&) = default;

 private:
  std::variant<std::string, platform::URL, platform::URLComponents> value_;
};

// Anything that can produce a URL request (request-building records, a URL request itself).
class URLRequestConvertible {
 public:
  virtual ~URLRequestConvertible() = default;
  [[nodiscard]] virtual Result<platform::URLRequest> asURLRequest() const = 0;
};

}  // namespace tolvane::http

// Completes Result for callers of asURL/asURLRequest; placed last because Result needs
// HTTPError, which needs URLConvertible.
#include "HTTP/Core/Result.h"
