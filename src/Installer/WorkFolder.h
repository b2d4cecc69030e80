#pragma once

#include <filesystem>

namespace tolvane {

// The installer's folder in the player's home, "Tolvane", and every path in it that the
// program reads or writes. The names never change: earlier versions, and other instances
// running at the same time, find the same files by them. A plain value, fixed when made;
// the composition root makes one for the run and hands it to every service.
class WorkFolder {
 public:
  static constexpr const char* kName = "Tolvane";
  // The runtime's folder, both in the work folder and at the top of the bundled archive.
  static constexpr const char* kRuntimeFolderName = "java";

  explicit WorkFolder(const std::filesystem::path& home);
  // In the current user's home folder, as it is now.
  [[nodiscard]] static WorkFolder forCurrentUser();

  [[nodiscard]] const std::filesystem::path& root() const { return root_; }
  // Written only by the download service, in one rename from launcherStaging().
  [[nodiscard]] std::filesystem::path launcherJar() const;
  // Hidden and beside the jar, so the final rename never crosses file systems.
  [[nodiscard]] std::filesystem::path launcherStaging() const;
  // An interrupted download's partial file and its resume record; the download service
  // owns everything in it.
  [[nodiscard]] std::filesystem::path partialFolder() const;
  [[nodiscard]] std::filesystem::path partialRecord() const;
  [[nodiscard]] std::filesystem::path runtimeFolder() const;
  [[nodiscard]] std::filesystem::path javaExecutable() const;
  // Unpacking happens here first, so a half-unpacked runtime never sits at runtimeFolder().
  [[nodiscard]] std::filesystem::path runtimeStaging() const;
  // The bundled archive's copy while it is unpacked.
  [[nodiscard]] std::filesystem::path archiveCopy() const;
  // Held while a run writes; never removed (removing it while another instance waits on it
  // would let a third one lock a new file of the same name).
  [[nodiscard]] std::filesystem::path runLock() const;

  friend bool operator==(const WorkFolder&, const WorkFolder&) = default;

 private:
  std::filesystem::path root_;
};

}  // namespace tolvane
