#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "Installer/FileModel.h"
#include "Platform/Data.h"

namespace tolvane {

// What it takes to continue an interrupted launcher download in a later run: the manifest
// entry the partial file belongs to, the validator the server gave for it (a strong ETag,
// else Last-Modified) and the HTTP layer's resume data, which names the partial file.
// Kept as a small JSON file next to the partial file; a file that does not decode to a
// complete record counts as no record. A plain value.
struct DownloadResumeRecord {
  FileModel entry;
  // The address the download was made from.
  std::string url;
  std::string validator;
  platform::Data resumeData;

  [[nodiscard]] std::string encoded() const;
  [[nodiscard]] static std::optional<DownloadResumeRecord> decode(std::string_view text);

  // Replaces the file in one step, so a process killed meanwhile leaves the old record or
  // the new one, never half of one. False when it cannot be written.
  [[nodiscard]] bool save(const std::filesystem::path& file) const;
  [[nodiscard]] static std::optional<DownloadResumeRecord> load(const std::filesystem::path& file);
};

}  // namespace tolvane
