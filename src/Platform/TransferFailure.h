#pragma once

#include <string>

#include "Platform/URLError.h"

namespace tolvane::platform {

// Why a transfer stops: the code it fails with and a line for the logs.
struct TransferFailure {
  URLError::Code code;
  std::string detail;
};

}  // namespace tolvane::platform
