#include "HTTP/Core/StringEncoding.h"

namespace tolvane::http {

std::string description(StringEncoding encoding) {
  switch (encoding) {
    case StringEncoding::ascii:
      return "Western (ASCII)";
    case StringEncoding::utf8:
      return "Unicode (UTF-8)";
    case StringEncoding::isoLatin1:
      return "Western (ISO Latin 1)";
    case StringEncoding::isoLatin2:
      return "Central European (ISO Latin 2)";
    case StringEncoding::utf16:
      return "Unicode (UTF-16)";
    case StringEncoding::utf16BigEndian:
      return "Unicode (UTF-16BE)";
    case StringEncoding::utf16LittleEndian:
      return "Unicode (UTF-16LE)";
    case StringEncoding::utf32:
      return "Unicode (UTF-32)";
    case StringEncoding::utf32BigEndian:
      return "Unicode (UTF-32BE)";
    case StringEncoding::utf32LittleEndian:
      return "Unicode (UTF-32LE)";
    case StringEncoding::windowsCP1250:
      return "Central European (Windows Latin 2)";
    case StringEncoding::windowsCP1251:
      return "Cyrillic (Windows)";
    case StringEncoding::windowsCP1252:
      return "Western (Windows Latin 1)";
    case StringEncoding::macOSRoman:
      return "Western (Mac OS Roman)";
  }
  return "Unknown";
}

}  // namespace tolvane::http
