#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "HTTP/Core/HTTPHeader.h"
#include "Platform/HTTPURLResponse.h"
#include "Platform/HeaderFields.h"
#include "Platform/URLRequest.h"
#include "Platform/URLSession.h"

namespace tolvane::http {

// An ordered collection of headers in which no two names are equal ignoring ASCII case:
// adding a header whose name is already present replaces that entry in place (taking the
// new name's spelling). Equality is positional: same headers in the same order. Plain value.
class HTTPHeaders {
 public:
  HTTPHeaders() = default;
  HTTPHeaders(std::initializer_list<HTTPHeader> headers);
  explicit HTTPHeaders(const std::vector<HTTPHeader>& headers);
  // From a name-to-value dictionary, in its iteration order.
  explicit HTTPHeaders(const platform::HeaderFields& dictionary);

  // Same as update: adding never creates a second entry for a name.
  void add(std::string name, std::string value);
  void add(HTTPHeader header);
  void update(std::string name, std::string value);
  void update(HTTPHeader header);
  void remove(std::string_view name);
  [[nodiscard]] std::optional<std::string> value(std::string_view name) const;

  // Keyed assignment: a value updates, none removes.
  void set(std::string_view name, std::optional<std::string> value);
  [[nodiscard]] std::optional<std::string> operator[](std::string_view name) const {
    return value(name);
  }
  [[nodiscard]] const HTTPHeader& operator[](std::size_t index) const { return headers_[index]; }

  [[nodiscard]] std::size_t count() const { return headers_.size(); }
  [[nodiscard]] bool isEmpty() const { return headers_.empty(); }
  [[nodiscard]] auto begin() const { return headers_.begin(); }
  [[nodiscard]] auto end() const { return headers_.end(); }
  [[nodiscard]] const std::vector<HTTPHeader>& headers() const { return headers_; }

  // Stable sort by lower-cased name.
  void sort();
  [[nodiscard]] HTTPHeaders sorted() const;

  // Name-to-value dictionary in entry order.
  [[nodiscard]] platform::HeaderFields dictionary() const;
  // One "Name: value" per line, no trailing line feed.
  [[nodiscard]] std::string description() const;

  // Accept-Encoding, Accept-Language, User-Agent defaults, in that order; computed once.
  [[nodiscard]] static const HTTPHeaders& defaultHeaders();

  friend bool operator==(const HTTPHeaders&, const HTTPHeaders&) = default;

 private:
  std::vector<HTTPHeader>::iterator find(std::string_view name);
  std::vector<HTTPHeader> headers_;
};

// Bridges to the transport's header dictionaries.
[[nodiscard]] HTTPHeaders headers(const platform::URLRequest& request);
void setHeaders(platform::URLRequest& request, const HTTPHeaders& headers);
[[nodiscard]] HTTPHeaders headers(const platform::HTTPURLResponse& response);
[[nodiscard]] HTTPHeaders headers(const platform::URLSessionConfiguration& configuration);
void setHeaders(platform::URLSessionConfiguration& configuration, const HTTPHeaders& headers);

}  // namespace tolvane::http

template <>
struct std::hash<tolvane::http::HTTPHeaders> {
  std::size_t operator()(const tolvane::http::HTTPHeaders& headers) const noexcept {
    std::size_t h = headers.count();
    for (const auto& header : headers) {
      h = h * 1000003 ^ std::hash<tolvane::http::HTTPHeader>{}(header);
    }
    return h;
  }
};
