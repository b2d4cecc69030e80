#include "HTTP/Response/URLResponseSerializer.h"

namespace tolvane::http {

Result<platform::URL> URLResponseSerializer::serializeDownload(
    const std::optional<platform::URLRequest>& /*request*/,
    const platform::HTTPURLResponse* /*response*/, const std::optional<platform::URL>& fileURL,
    const std::optional<HTTPError>& error) const {
  if (error) return *error;
  if (!fileURL) return failures::serialization(failures::SerializationReason::Kind::inputFileNil);
  return *fileURL;
}

}  // namespace tolvane::http
