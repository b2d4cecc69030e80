#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace tolvane::http {

// A request method: any text is valid; compared and hashed by its exact text.
class HTTPMethod {
 public:
  explicit HTTPMethod(std::string rawValue) : rawValue_(std::move(rawValue)) {}

  [[nodiscard]] const std::string& rawValue() const { return rawValue_; }

  static const HTTPMethod connect;
  // "delete" is a C++ keyword.
  static const HTTPMethod delete_;
  static const HTTPMethod get;
  static const HTTPMethod head;
  static const HTTPMethod options;
  static const HTTPMethod patch;
  static const HTTPMethod post;
  static const HTTPMethod put;
  static const HTTPMethod query;
  static const HTTPMethod trace;

  friend bool operator==(const HTTPMethod&, const HTTPMethod&) = default;

 private:
  std::string rawValue_;
};

inline const HTTPMethod HTTPMethod::connect{"CONNECT"};
inline const HTTPMethod HTTPMethod::delete_{"DELETE"};
inline const HTTPMethod HTTPMethod::get{"GET"};
inline const HTTPMethod HTTPMethod::head{"HEAD"};
inline const HTTPMethod HTTPMethod::options{"OPTIONS"};
inline const HTTPMethod HTTPMethod::patch{"PATCH"};
inline const HTTPMethod HTTPMethod::post{"POST"};
inline const HTTPMethod HTTPMethod::put{"PUT"};
inline const HTTPMethod HTTPMethod::query{"QUERY"};
inline const HTTPMethod HTTPMethod::trace{"TRACE"};

}  // namespace tolvane::http

template <>
struct std::hash<tolvane::http::HTTPMethod> {
  std::size_t operator()(const tolvane::http::HTTPMethod& method) const noexcept {
    return std::hash<std::string>{}(method.rawValue());
  }
};
