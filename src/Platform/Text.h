#pragma once

#include <string>
#include <string_view>

namespace tolvane::platform {

// The text helpers protocol code needs, whatever the process locale says: header names and
// tokens are ASCII however the user's language spells things, and bodies are bytes.

// What trimmed() removes by default: spaces, tabs, CRs and LFs.
inline constexpr std::string_view kBlanksAndLineBreaks = " \t\r\n";
// All ASCII white space: the default set plus vertical tabs and form feeds.
inline constexpr std::string_view kWhiteSpace = " \t\r\n\v\f";

// `text` without leading and trailing bytes from `characters`.
[[nodiscard]] std::string_view trimmed(std::string_view text,
                                       std::string_view characters = kBlanksAndLineBreaks);
// `text` with A-Z turned into a-z; every other byte as it was.
[[nodiscard]] std::string lowercased(std::string_view text);

// `bytes` decoded as UTF-8 for showing, never trusted to be text: each ill-formed sequence
// becomes one U+FFFD, up to the byte that broke it (the maximal subpart rule).
[[nodiscard]] std::string lossyUTF8(std::string_view bytes);

}  // namespace tolvane::platform
