#pragma once

#include "HTTP/Response/DataPreprocessor.h"

namespace tolvane::http {

// Hands the body on unchanged; the default of every serializer.
class PassthroughPreprocessor final : public DataPreprocessor {
 public:
  [[nodiscard]] Result<platform::Data> preprocess(const platform::Data& data) const override {
    return data;
  }
};

}  // namespace tolvane::http
