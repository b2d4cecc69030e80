#pragma once

#include <string>
#include <string_view>

namespace tolvane::platform {

// The text helpers protocol code needs: ASCII only, whatever the process locale says, since
// header names and tokens are ASCII however the user's language spells things.

// `text` without leading and trailing spaces, tabs, CRs and LFs.
[[nodiscard]] std::string_view trimmed(std::string_view text);
// `text` with A-Z turned into a-z; every other byte as it was.
[[nodiscard]] std::string lowercased(std::string_view text);

}  // namespace tolvane::platform
