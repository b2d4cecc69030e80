#pragma once

#include <string>

namespace tolvane::http {

// A text encoding, as response serializers name the one they failed to decode with. The
// text form is the desktop platform's name of the encoding, e.g. "Unicode (UTF-8)".
enum class StringEncoding {
  ascii,
  utf8,
  isoLatin1,
  isoLatin2,
  utf16,
  utf16BigEndian,
  utf16LittleEndian,
  utf32,
  utf32BigEndian,
  utf32LittleEndian,
  windowsCP1250,
  windowsCP1251,
  windowsCP1252,
  macOSRoman,
};

[[nodiscard]] std::string description(StringEncoding encoding);

}  // namespace tolvane::http
