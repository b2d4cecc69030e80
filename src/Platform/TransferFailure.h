#pragma once

#include <string>

#include "Platform/URLError.h"

namespace tolvane::platform {

// Why a transfer stops: the code it fails with, a line for the logs and, for a failure of
// the download's file, the file system's error.
struct TransferFailure {
  URLError::Code code;
  std::string detail;
  ErrorPtr cause = nullptr;
};

}  // namespace tolvane::platform
