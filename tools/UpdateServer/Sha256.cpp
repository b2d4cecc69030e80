#include "UpdateServer/Sha256.h"

namespace tolvane::tools {

std::string Sha256::hex(std::string_view digest) {
  static constexpr char kHexDigits[] = "0123456789abcdef";
  std::string hex;
  for (const char byte : digest) {
    hex.push_back(kHexDigits[static_cast<unsigned char>(byte) >> 4]);
    hex.push_back(kHexDigits[static_cast<unsigned char>(byte) & 0x0f]);
  }
  return hex;
}

}  // namespace tolvane::tools
