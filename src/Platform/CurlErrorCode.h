#pragma once

#include "Platform/URLError.h"

namespace tolvane::platform {

// The URL error code for a libcurl result (a CURLcode, passed as int so that this header
// does not pull in libcurl). CURLE_OK has no error code and maps to unknown.
[[nodiscard]] URLError::Code urlErrorCodeFromCurl(int curlCode);

}  // namespace tolvane::platform
