#pragma once

#include <filesystem>

namespace tolvane::platform {

// File operations the program needs, with the OS error kept on failure: every failing
// operation throws SystemError carrying errno and the path(s) involved.
// Stateless; safe to use from any thread.
class FileManager {
 public:
  // The program-wide instance.
  static FileManager& defaultManager();

  // $HOME, or the password database's home folder when HOME is unset or empty. Read on
  // every call so that a changed environment is seen.
  [[nodiscard]] std::filesystem::path homeDirectoryForCurrentUser() const;

  // True when something exists at the path (a folder counts; symbolic links are followed).
  [[nodiscard]] bool fileExists(const std::filesystem::path& path) const;

  // With intermediates, missing parent folders are created and an existing folder is
  // success; without, the parent must exist and an existing item is an error.
  void createDirectory(const std::filesystem::path& path, bool withIntermediateDirectories) const;

  // Copies a file, symbolic link or folder tree, keeping permission bits. Fails with EEXIST
  // when the destination exists; a partly written destination is removed on failure.
  void copyItem(const std::filesystem::path& at, const std::filesystem::path& to) const;

  // Removes a file, link or folder tree. Fails when nothing is there.
  void removeItem(const std::filesystem::path& path) const;

  // Renames; across file systems copies then removes the source. Fails with EEXIST when
  // the destination exists (it is never replaced silently).
  void moveItem(const std::filesystem::path& at, const std::filesystem::path& to) const;

  // Puts the file `replacement` in place of `destination` (same folder) in one step, once its
  // data is on disk: after a crash the destination is the old file or the whole new one,
  // never a new name over blocks that were not written. Fails reading the replacement or
  // saving the destination.
  void replaceItemDurably(const std::filesystem::path& replacement,
                          const std::filesystem::path& destination) const;
};

}  // namespace tolvane::platform
