#pragma once

#include <concepts>
#include <string>

#include <nlohmann/json.hpp>

namespace tolvane::http {

// A type with a designated value that stands for "no body", so an allowed empty response
// can still produce a value of it.
template <typename T>
concept EmptyResponse = requires {
  { T::emptyValue() } -> std::convertible_to<T>;
};

// The layer's own empty record: the expected type for responses without a body (204, HEAD).
// It decodes from anything without reading it and encodes as an empty object.
struct Empty {
  [[nodiscard]] static Empty emptyValue() { return {}; }
  [[nodiscard]] static Empty fromJSON(const nlohmann::json& /*json*/) { return {}; }
  [[nodiscard]] nlohmann::json toJSON() const { return nlohmann::json::object(); }
  [[nodiscard]] std::string description() const { return "Empty()"; }

  friend bool operator==(const Empty&, const Empty&) = default;
};

}  // namespace tolvane::http
