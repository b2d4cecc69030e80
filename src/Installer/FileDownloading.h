#pragma once

#include <optional>
#include <string>

#include "Installer/FileModel.h"

namespace tolvane {

// Downloads the launcher jar from a path on the update server into the work folder as
// "Tolvane.jar". Called from the run's background thread; blocks until done. On return the
// jar is in place; on failure throws (ResourceError::failedDownloadLoaderModel carrying the
// network layer's error) and leaves any previous jar where it was.
class FileDownloading {
 public:
  virtual ~FileDownloading() = default;
  virtual void downloadFile(std::optional<std::string> from) = 0;
  // Downloads `entry.path` as the version the manifest entry describes; an implementation
  // may continue an interrupted download of that same entry.
  virtual void downloadEntry(const FileModel& entry) { downloadFile(entry.path); }
};

}  // namespace tolvane
