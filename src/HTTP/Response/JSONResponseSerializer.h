#pragma once

#include <nlohmann/json.hpp>

#include "HTTP/Response/ResponseSerializer.h"

namespace tolvane::http {

// How the JSON reader treats its input. Any JSON value is accepted at the top level.
enum class JSONReadingOptions : unsigned {
  none = 0,
  // Skip /* */ and // comments instead of rejecting them.
  allowComments = 1,
};

// The body parsed as a JSON document; an allowed empty body gives the JSON null value. A
// body that is not JSON fails with jsonSerializationFailed carrying the parser's error.
class JSONResponseSerializer final : public ResponseSerializer<nlohmann::json> {
 public:
  explicit JSONResponseSerializer(
      std::shared_ptr<const DataPreprocessor> dataPreprocessor = defaultDataPreprocessor(),
      EmptyResponseCodes emptyResponseCodes = defaultEmptyResponseCodes(),
      EmptyRequestMethods emptyRequestMethods = defaultEmptyRequestMethods(),
      JSONReadingOptions options = JSONReadingOptions::none);

  [[nodiscard]] JSONReadingOptions options() const { return options_; }

  [[nodiscard]] Result<nlohmann::json> serialize(
      const std::optional<platform::URLRequest>& request, const platform::HTTPURLResponse* response,
      const std::optional<platform::Data>& data,
      const std::optional<HTTPError>& error) const override;

 private:
  JSONReadingOptions options_;
};

}  // namespace tolvane::http
