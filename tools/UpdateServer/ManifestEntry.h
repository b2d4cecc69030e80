#pragma once

#include <cstdint>
#include <string>

namespace tolvane::tools {

// One file of a published release as the manifest announces it to the installer.
struct ManifestEntry {
  std::string path;   // relative to the server origin, exactly as the operator gave it
  std::string hash;   // SHA-256 of the file, 64 lower-case hex digits
  std::int64_t size;  // bytes
};

}  // namespace tolvane::tools
