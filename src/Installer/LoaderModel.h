#pragma once

#include <nlohmann/json.hpp>
#include <string_view>
#include <vector>

#include "Installer/FileModel.h"

namespace tolvane {

// The update manifest: an ordered list of file entries, of which the installer only ever
// uses the first. Decoding is strict like FileModel's; an empty list is a valid manifest.
struct LoaderModel {
  std::vector<FileModel> files;

  // Throws platform::DecodingError.
  static LoaderModel fromJSON(const nlohmann::json& json);
  static LoaderModel decode(std::string_view jsonText);

  [[nodiscard]] nlohmann::ordered_json toJSON() const;
};

}  // namespace tolvane
