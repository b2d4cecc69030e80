#pragma once

#include <nlohmann/json.hpp>

#include "Platform/Data.h"

namespace tolvane::http {

// Reads body bytes into the document a decodable type then reads itself from. Failures are
// thrown as platform errors (platform::ErrorException, e.g. platform::DecodingError), the
// way a decoder reports them. Implementations are immutable and shared.
class DataDecoder {
 public:
  virtual ~DataDecoder() = default;
  [[nodiscard]] virtual nlohmann::json document(const platform::Data& data) const = 0;
};

}  // namespace tolvane::http
