#pragma once

#include "HTTP/Core/Result.h"
#include "Platform/Data.h"

namespace tolvane::http {

// A step that rewrites a response body before a serializer reads it. Implementations are
// immutable and shared between serializers and threads.
class DataPreprocessor {
 public:
  virtual ~DataPreprocessor() = default;
  [[nodiscard]] virtual Result<platform::Data> preprocess(const platform::Data& data) const = 0;
};

}  // namespace tolvane::http
