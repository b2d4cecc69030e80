#pragma once

#include <filesystem>
#include <string>

#include "UpdateServer/ManifestEntry.h"
#include "UpdateServer/ReleaseFolder.h"

namespace tolvane::tools {

// Puts a launcher jar into a release folder and rewrites the folder's manifest to
// announce it. Both files are replaced atomically (temporary file, fsync, rename), the
// jar first, so a server hosting the folder never announces a file that is not there
// and never serves a half-written one. Stateless; one publish at a time per folder.
class Publisher {
 public:
  explicit Publisher(ReleaseFolder folder) : folder_(std::move(folder)) {}

  // Copies `jar` to <root>/<relativePath>, creating folders, and writes the manifest
  // {"files":[{"path", "hash", "size"}]} describing the copy. Throws ToolError: with the
  // usage exit code when the path is refused (see ReleaseFolder::refusalForPublishPath,
  // or a folder on the way is a symbolic link leading out), otherwise with the failure
  // exit code when the jar cannot be read or the folder written.
  ManifestEntry publish(const std::filesystem::path& jar, const std::string& relativePath) const;

 private:
  ReleaseFolder folder_;
};

}  // namespace tolvane::tools
