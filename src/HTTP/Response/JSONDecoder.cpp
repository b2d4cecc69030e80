#include "HTTP/Response/JSONDecoder.h"

#include <string>

#include "Platform/DecodingError.h"

namespace tolvane::http {

nlohmann::json JSONDecoder::document(const platform::Data& data) const {
  try {
    return nlohmann::json::parse(data);
  } catch (const nlohmann::json::exception& parseError) {
    throw platform::DecodingError(
        platform::DecodingError::Kind::dataCorrupted,
        std::string("The given data was not valid JSON. ") + parseError.what());
  }
}

}  // namespace tolvane::http
