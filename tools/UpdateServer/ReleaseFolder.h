#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane::tools {

// A folder holding one release as the installer sees it: the manifest file
// "loaderv3.php" at the top and the files it names below. Decides which request paths
// may be served from it and which relative paths may be published into it; nothing
// outside the folder is ever named by either. Immutable; safe to share between threads.
class ReleaseFolder {
 public:
  // The manifest keeps the endpoint's name so the folder can be hosted as-is by any
  // static web server.
  static constexpr std::string_view kManifestName = "loaderv3.php";

  enum class Outcome { found, missing, refused };
  struct Lookup {
    Outcome outcome;
    // The file to serve, with symbolic links resolved; set when found.
    std::filesystem::path file;
  };

  explicit ReleaseFolder(std::filesystem::path root);

  [[nodiscard]] const std::filesystem::path& root() const { return root_; }
  [[nodiscard]] std::filesystem::path manifestFile() const { return root_ / kManifestName; }

  // Maps a percent-decoded request path ("/launcher/a b.jar") to a regular file under the
  // folder. Paths that try to leave it (".." components, an absolute path after the
  // leading "/", NUL bytes) are refused; so is a file reached through a symbolic link
  // that points outside. Folders, absent files and paths with a component starting with
  // "." are missing.
  [[nodiscard]] Lookup lookup(std::string_view requestPath) const;

  // Why a relative path given to publish cannot be used, or nothing when it can. A usable
  // path is valid UTF-8, not absolute, made only of non-empty components that do not start
  // with "." (lookup never finds those), free of characters that do not survive the trip
  // through a URL ('%', '?', '#', '\\', control characters), and not the manifest's own name.
  [[nodiscard]] static std::optional<std::string> refusalForPublishPath(std::string_view path);

  // True when `path` (already canonical) is the folder itself or lies below it.
  [[nodiscard]] bool contains(const std::filesystem::path& canonicalPath) const;

 private:
  std::filesystem::path root_;
};

}  // namespace tolvane::tools
