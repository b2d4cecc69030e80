#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "Platform/Data.h"
#include "Platform/URLRequest.h"

namespace tolvane::platform {

// What an interrupted download needs to continue: the request, the partial file and the
// validator that tells whether the server's file is still the same one. Encoded as a small
// JSON document; anything that does not decode to a complete record is rejected.
struct ResumeData {
  URLRequest request;
  std::filesystem::path temporaryFile;
  std::int64_t bytesReceived = 0;
  // A strong entity tag or a Last-Modified date, sent back as If-Range.
  std::string validator;

  [[nodiscard]] Data encoded() const;
  [[nodiscard]] static std::optional<ResumeData> decode(const Data& data);
};

}  // namespace tolvane::platform
