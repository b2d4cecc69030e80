#pragma once

#include <optional>
#include <string>

#include "Installer/FileModel.h"
#include "Platform/UserDefaults.h"

namespace tolvane {

// The manifest entry remembered between runs lives in the user defaults as the JSON of one
// FileModel.
inline constexpr const char* kLoaderModelKey = "loaderModel";

// Stores the entry's JSON under the key. An entry that cannot be encoded stores nothing and
// reports nothing; a failure to write the settings throws platform::SystemError.
void storeFileModel(platform::UserDefaults& defaults, const FileModel& model,
                    const std::string& forKey);

// The entry under the key; nothing when absent or when the stored data does not decode.
[[nodiscard]] std::optional<FileModel> fileModel(const platform::UserDefaults& defaults,
                                                 const std::string& forKey);

}  // namespace tolvane
