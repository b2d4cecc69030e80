#pragma once

#include "HTTP/Response/DataDecoder.h"

namespace tolvane::http {

// Strict JSON: no comments, the whole body must be one JSON value. Malformed input throws
// platform::DecodingError (dataCorrupted) naming the parser's complaint.
class JSONDecoder final : public DataDecoder {
 public:
  [[nodiscard]] nlohmann::json document(const platform::Data& data) const override;
};

}  // namespace tolvane::http
