#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Platform/HeaderFields.h"
#include "Platform/URL.h"

namespace tolvane::platform {

// Size of a body the server did not announce.
inline constexpr std::int64_t kTransferSizeUnknown = -1;

// The head of an HTTP response as the transport received it (after redirects).
struct HTTPURLResponse {
  URL url;
  int statusCode = 0;
  HeaderFields allHeaderFields;
  // Content-Length (after content decoding it may differ), or kTransferSizeUnknown.
  std::int64_t expectedContentLength = kTransferSizeUnknown;
  // From Content-Type: the media type without parameters, lower-cased ("text/html").
  std::optional<std::string> mimeType;
  // The charset parameter of Content-Type, if any ("utf-8").
  std::optional<std::string> textEncodingName;
  // From Content-Disposition's filename, else the URL's last path component, else "Unknown".
  std::string suggestedFilename;
};

}  // namespace tolvane::platform
