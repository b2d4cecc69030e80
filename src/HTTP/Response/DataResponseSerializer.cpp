#include "HTTP/Response/DataResponseSerializer.h"

namespace tolvane::http {

DataResponseSerializer::DataResponseSerializer(
    std::shared_ptr<const DataPreprocessor> dataPreprocessor, EmptyResponseCodes emptyResponseCodes,
    EmptyRequestMethods emptyRequestMethods)
    : ResponseSerializer(std::move(dataPreprocessor), std::move(emptyResponseCodes),
                         std::move(emptyRequestMethods)) {}

Result<platform::Data> DataResponseSerializer::serialize(
    const std::optional<platform::URLRequest>& request, const platform::HTTPURLResponse* response,
    const std::optional<platform::Data>& data, const std::optional<HTTPError>& error) const {
  platform::Data body;
  if (auto early = prepare(
          request, response, data, error, [] { return Result<platform::Data>(platform::Data()); },
          body)) {
    return std::move(*early);
  }
  return body;
}

}  // namespace tolvane::http
