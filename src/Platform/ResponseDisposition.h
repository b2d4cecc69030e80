#pragma once

namespace tolvane::platform {

// Whether a data task takes the body of the response its delegate was shown.
enum class ResponseDisposition { cancel, allow };

}  // namespace tolvane::platform
