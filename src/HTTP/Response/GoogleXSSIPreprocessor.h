#pragma once

#include <string_view>

#include "HTTP/Response/DataPreprocessor.h"

namespace tolvane::http {

// Strips the ")]}',\n" guard some JSON services put in front of their bodies so the body
// cannot be run as a script; a body without that exact prefix passes unchanged.
class GoogleXSSIPreprocessor final : public DataPreprocessor {
 public:
  static constexpr std::string_view kPrefix = ")]}',\n";

  [[nodiscard]] Result<platform::Data> preprocess(const platform::Data& data) const override;
};

}  // namespace tolvane::http
