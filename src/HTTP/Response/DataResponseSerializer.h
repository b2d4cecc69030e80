#pragma once

#include "HTTP/Response/ResponseSerializer.h"

namespace tolvane::http {

// The body bytes themselves (after the preprocessor); an allowed empty body gives empty bytes.
class DataResponseSerializer final : public ResponseSerializer<platform::Data> {
 public:
  explicit DataResponseSerializer(
      std::shared_ptr<const DataPreprocessor> dataPreprocessor = defaultDataPreprocessor(),
      EmptyResponseCodes emptyResponseCodes = defaultEmptyResponseCodes(),
      EmptyRequestMethods emptyRequestMethods = defaultEmptyRequestMethods());

  [[nodiscard]] Result<platform::Data> serialize(
      const std::optional<platform::URLRequest>& request, const platform::HTTPURLResponse* response,
      const std::optional<platform::Data>& data,
      const std::optional<HTTPError>& error) const override;
};

}  // namespace tolvane::http
