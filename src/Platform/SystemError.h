#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "Platform/ThrowableError.h"

namespace tolvane::platform {

// A failed operating-system call: its errno, what we were doing and the path(s) involved.
// Its localized description is the sentence the desktop shows for such a failure, in the
// user's language: it names the item and its folder and, for the usual causes, says why:
//   You don’t have permission to save the file “java.zip” in the folder “Tolvane”.
//   The file “Tolvane” couldn’t be saved in the folder “alice” because a file with the same
//   name already exists.
// The errno text and the full paths are in the debug description.
class SystemError final : public ThrowableError<SystemError> {
 public:
  // What failed; it decides the sentence. `path` is the item the call was about; copy and
  // move also name their destination (`otherPath`).
  enum class Operation {
    createFolder,  // making the folder `path`
    save,          // creating or writing the file `path`
    read,          // opening or reading the file `path`
    copy,          // copying `path` to `otherPath` as a whole (the destination is taken)
    move,          // renaming `path` to `otherPath`
    remove,        // removing `path`
    launch,        // starting the program `path`
  };

  SystemError(int code, Operation operation, std::optional<std::filesystem::path> path = {},
              std::optional<std::filesystem::path> otherPath = {});

  // Builds the error from the current errno.
  static SystemError fromErrno(Operation operation, std::optional<std::filesystem::path> path = {},
                               std::optional<std::filesystem::path> otherPath = {});

  [[nodiscard]] int code() const { return code_; }
  [[nodiscard]] Operation operation() const { return operation_; }
  [[nodiscard]] const std::optional<std::filesystem::path>& path() const { return path_; }
  [[nodiscard]] const std::optional<std::filesystem::path>& otherPath() const { return otherPath_; }

  [[nodiscard]] std::string localizedDescription() const override;
  // The operation, the system's errno text and the full path(s), always in English:
  //   copy: File exists: "/a/java.zip" -> "/home/u/Tolvane/java.zip"
  [[nodiscard]] std::string debugDescription() const override;

  // The system's text for an errno value (thread-safe).
  static std::string systemMessage(int code);

 private:
  int code_;
  Operation operation_;
  std::optional<std::filesystem::path> path_;
  std::optional<std::filesystem::path> otherPath_;
};

}  // namespace tolvane::platform
