#pragma once

#include "HTTP/Core/Request.h"

namespace tolvane::http::detail {

// The response layer's key to a request's lifecycle calls (validators, serializers and
// their completions); see RequestKey.
struct ResponseLayer {
  [[nodiscard]] static RequestKey key() { return {}; }
};

}  // namespace tolvane::http::detail
