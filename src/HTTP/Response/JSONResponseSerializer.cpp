#include "HTTP/Response/JSONResponseSerializer.h"

#include "Platform/DecodingError.h"

namespace tolvane::http {

JSONResponseSerializer::JSONResponseSerializer(
    std::shared_ptr<const DataPreprocessor> dataPreprocessor, EmptyResponseCodes emptyResponseCodes,
    EmptyRequestMethods emptyRequestMethods, JSONReadingOptions options)
    : ResponseSerializer(std::move(dataPreprocessor), std::move(emptyResponseCodes),
                         std::move(emptyRequestMethods)),
      options_(options) {}

Result<nlohmann::json> JSONResponseSerializer::serialize(
    const std::optional<platform::URLRequest>& request, const platform::HTTPURLResponse* response,
    const std::optional<platform::Data>& data, const std::optional<HTTPError>& error) const {
  platform::Data body;
  if (auto early = prepare(
          request, response, data, error, [] { return Result<nlohmann::json>(nlohmann::json()); },
          body)) {
    return std::move(*early);
  }
  const bool ignoreComments = (static_cast<unsigned>(options_) &
                               static_cast<unsigned>(JSONReadingOptions::allowComments)) != 0;
  try {
    return nlohmann::json::parse(body, nullptr, true, ignoreComments);
  } catch (const nlohmann::json::exception& parseError) {
    return failures::serialization(
        failures::SerializationReason::Kind::jsonSerializationFailed,
        platform::makeError(platform::DecodingError(platform::DecodingError::Kind::dataCorrupted,
                                                    parseError.what())));
  }
}

}  // namespace tolvane::http
