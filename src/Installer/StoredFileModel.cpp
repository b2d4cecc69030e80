#include "Installer/StoredFileModel.h"

#include "Platform/DecodingError.h"

namespace tolvane {

void storeFileModel(platform::UserDefaults& defaults, const FileModel& model,
                    const std::string& forKey) {
  if (const auto encoded = model.encode()) defaults.set(*encoded, forKey);
}

std::optional<FileModel> fileModel(const platform::UserDefaults& defaults,
                                   const std::string& forKey) {
  const auto data = defaults.data(forKey);
  if (!data) return std::nullopt;
  try {
    return FileModel::decode(*data);
  } catch (const platform::DecodingError&) {
    return std::nullopt;
  }
}

}  // namespace tolvane
