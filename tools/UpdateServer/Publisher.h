#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "Installer/ReleaseKeys.h"
#include "UpdateServer/ManifestEntry.h"
#include "UpdateServer/ReleaseFolder.h"

namespace tolvane::tools {

// Puts a launcher jar into a release folder and rewrites the folder's manifest to
// announce it, with the jar's minisign signature next to it when one is given. Every file
// is replaced atomically (temporary file, fsync, rename), the jar first and the manifest
// last, so a server hosting the folder never announces a file that is not there and never
// serves a half-written one. Publishes into one folder, from any process, take
// turns on a lock on the folder, so the manifest always describes the file at its path.
// Stateless apart from the stop flag it watches.
class Publisher {
 public:
  // The jar's minisign signature, and the key it must verify the jar with when given.
  struct Signing {
    std::filesystem::path signature;
    std::optional<ReleasePublicKey> key;
  };
  struct PublishedSignature {
    std::string path;  // the jar's path followed by ".minisig"
    std::string keyId;
    std::int64_t timestamp = 0;
    bool verified = false;  // against the given key
  };
  struct Publication {
    ManifestEntry entry;
    // The path held a file with other content: installers that read the previous
    // manifest now fetch this one under the old hash.
    bool replacedDifferentFile = false;
    std::optional<PublishedSignature> signature;
  };

  // `stopSignal`, when given, is watched while a publish waits or copies: a non-zero
  // value (the number of the signal that asked for it) abandons the publish before the
  // jar is committed, leaving the release as it was.
  explicit Publisher(ReleaseFolder folder, const std::atomic<int>* stopSignal = nullptr)
      : folder_(std::move(folder)), stopSignal_(stopSignal) {}

  // Copies `jar` (a file or a pipe) to <root>/<relativePath>, creating folders, and
  // writes the manifest {"files":[{"path", "hash", "size"}]} describing the copy. First
  // removes temporary files a killed publish left in the folder. Throws ToolError: with
  // the usage exit code when the path is refused (see ReleaseFolder::refusalForPublishPath,
  // or a folder on the way is a symbolic link leading out), with 128 + the signal number
  // when stopped, otherwise with the failure exit code when the jar cannot be read or the
  // folder written.
  //
  // With `signing`, the signature goes to <relativePath>.minisig, after the jar and before
  // the manifest. It is refused (usage exit code, nothing changed) when it is not a minisign
  // signature with a timestamp in its trusted comment, and, when a key is given, when it
  // does not verify the copied jar with that key. Without `signing`, a signature an earlier
  // publish left at that name is removed: it signs another file.
  Publication publish(const std::filesystem::path& jar, const std::string& relativePath,
                      const std::optional<Signing>& signing = std::nullopt) const;

  // Whether `name` is one of the temporary files a publish stages its files in.
  [[nodiscard]] static bool isStagingName(std::string_view name);

 private:
  void stopIfAsked() const;

  ReleaseFolder folder_;
  const std::atomic<int>* stopSignal_;
};

}  // namespace tolvane::tools
