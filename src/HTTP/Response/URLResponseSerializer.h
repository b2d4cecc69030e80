#pragma once

#include "HTTP/Response/ResponseSerializer.h"

namespace tolvane::http {

// For downloads only: the result is where the file was put.
class URLResponseSerializer final : public DownloadResponseSerializerProtocol<platform::URL> {
 public:
  [[nodiscard]] Result<platform::URL> serializeDownload(
      const std::optional<platform::URLRequest>& request, const platform::HTTPURLResponse* response,
      const std::optional<platform::URL>& fileURL,
      const std::optional<HTTPError>& error) const override;
};

}  // namespace tolvane::http
