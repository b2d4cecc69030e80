#pragma once

#include <optional>

#include <nlohmann/json.hpp>

#include "HTTP/Core/Result.h"
#include "Platform/URLRequest.h"

namespace tolvane::http {

// Request parameters: a JSON object whose members keep their insertion order. JSON's kinds
// give what encodings need to tell apart: maps (objects), lists (arrays), Booleans,
// integers, floating-point numbers, texts and null. A null value stands for an empty map.
using Parameters = nlohmann::ordered_json;

// Places parameters into a URL request (query, body, ...). Implementations are immutable
// values and may be used from any thread.
class ParameterEncoding {
 public:
  virtual ~ParameterEncoding() = default;
  // The request with the parameters applied; absent parameters leave it unchanged.
  [[nodiscard]] virtual Result<platform::URLRequest> encode(
      platform::URLRequest request, const std::optional<Parameters>& parameters) const = 0;
};

}  // namespace tolvane::http
