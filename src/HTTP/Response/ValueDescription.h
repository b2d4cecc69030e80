#pragma once

#include <concepts>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <typeinfo>

#include <nlohmann/json.hpp>

#include "HTTP/Core/HTTPError.h"
#include "HTTP/Core/Result.h"
#include "Platform/Data.h"
#include "Platform/URL.h"

namespace tolvane::http {

// The bare name of a type as a person would write it: namespaces dropped, so
// tolvane::LoaderModel gives "LoaderModel" (template arguments are kept as they are).
[[nodiscard]] std::string unqualifiedTypeName(const std::type_info& type);

template <typename T>
[[nodiscard]] std::string unqualifiedTypeName() {
  return unqualifiedTypeName(typeid(T));
}

// A floating-point number the way the response texts print it: the shortest text that reads
// back as the same value, with ".0" for whole numbers ("0.25", "3.0").
[[nodiscard]] std::string shortestDecimal(double value);

// The text form of a byte buffer: its size, "12 bytes".
[[nodiscard]] std::string byteCountDescription(const platform::Data& data);

// The text form of a value inside response descriptions: byte buffers by their size (texts
// are byte buffers too, as platform::Data is std::string, so a decoded text also shows as its
// size; bodies never spill into logs that way), URLs as their absolute text, JSON compact,
// optionals as "Optional(...)" or "nil", and types with a description() member by it; anything else
// by its type name.
template <typename T>
[[nodiscard]] std::string describeValue(const T& value) {
  if constexpr (std::is_same_v<T, platform::Data>) {
    return byteCountDescription(value);
  } else if constexpr (std::is_same_v<T, platform::URL>) {
    return value.absoluteString();
  } else if constexpr (std::is_same_v<T, nlohmann::json>) {
    return value.dump();
  } else if constexpr (std::is_same_v<T, bool>) {
    return value ? "true" : "false";
  } else if constexpr (std::is_floating_point_v<T>) {
    return shortestDecimal(static_cast<double>(value));
  } else if constexpr (std::is_arithmetic_v<T>) {
    return std::to_string(value);
  } else if constexpr (requires { value.description(); }) {
    return value.description();
  } else {
    return unqualifiedTypeName<T>();
  }
}

template <typename T>
[[nodiscard]] std::string describeValue(const std::optional<T>& value) {
  if (!value) return "nil";
  return "Optional(" + describeValue(*value) + ")";
}

// "success(...)" or "failure(...)", the error by its message.
template <typename T>
[[nodiscard]] std::string describeResult(const Result<T>& result) {
  if (result.isFailure()) return "failure(" + result.error().localizedDescription() + ")";
  return "success(" + describeValue(result.value()) + ")";
}

}  // namespace tolvane::http
