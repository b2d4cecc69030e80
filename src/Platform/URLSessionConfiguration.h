#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "Platform/HeaderFields.h"

namespace tolvane::platform {

// Settings shared by every task of a transport session.
struct URLSessionConfiguration {
  [[nodiscard]] static URLSessionConfiguration defaultConfiguration();

  // Sent with every request unless the request sets the same header itself.
  HeaderFields httpAdditionalHeaders;
  // Inactivity time-out for requests that do not set their own (seconds).
  double timeoutIntervalForRequest = 60.0;
  // A transfer slower than lowSpeedLimitBytesPerSecond for lowSpeedTimeSeconds fails with
  // a time-out, so a trickling server cannot hold a request for ever.
  long lowSpeedLimitBytesPerSecond = 1024;
  long lowSpeedTimeSeconds = 30;
  // Extra CA bundle trusted in addition to the system's (from TOLVANE_CA_FILE by default).
  std::optional<std::filesystem::path> additionalCAFile;
  // Background sessions are not supported; the field exists so the layer can check.
  std::optional<std::string> identifier;
};

}  // namespace tolvane::platform
