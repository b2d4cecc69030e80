#pragma once

#include <string>
#include <string_view>

namespace tolvane::platform {

// The language the platform's own texts (error descriptions of files, processes and the
// transport) are shown in. The system's desktop shows them in the user's language; here the
// locale environment decides, read the way gettext reads it: LANGUAGE's list when the locale
// is not "C", then LC_ALL, LC_MESSAGES and LANG. Russian when it names Russian, English
// otherwise. Read on every call, so a test or a child's environment change takes effect.
enum class Language { english, russian };

[[nodiscard]] Language userLanguage();

// `english` or `russian`, whichever the user's language picks.
[[nodiscard]] std::string localized(std::string_view english, std::string_view russian);

}  // namespace tolvane::platform
