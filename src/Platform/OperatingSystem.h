#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Platform/FileDescriptor.h"

// What the program asks of the operating system beyond the C++ library, in one place. Every
// call has a POSIX implementation (OperatingSystemPOSIX.cpp); on Linux, faster or safer
// system calls stand in where the kernel offers them (OperatingSystemLinux.cpp) and fall back
// to the POSIX way where it does not. A build with TOLVANE_PORTABLE_POSIX takes the POSIX
// way throughout, which is also how the fallbacks are tested. docs/Platform.md says what a
// macOS build would put here.
namespace tolvane::platform::os {

// ---- The running program ----------------------------------------------------------------

// Programs call this first thing in main(): where the system cannot be asked, the program's
// path and command line are answered from what it was started with.
void recordCommandLine(int argc, const char* const* argv);
// The program's own executable, absolute; empty when it cannot be found.
[[nodiscard]] std::filesystem::path executablePath();
// The arguments the program was started with, its name first; empty when unknown.
[[nodiscard]] std::vector<std::string> commandLine();
// Names the calling thread for debuggers and process viewers (the tail of long names).
void nameCurrentThread(const std::string& name);

// ---- Standard folders (the desktop's conventions for per-user files) -------------------

// Settings: $XDG_CONFIG_HOME when absolute, else ~/.config.
[[nodiscard]] std::filesystem::path settingsFolder();
// Caches: $XDG_CACHE_HOME when absolute, else ~/.cache.
[[nodiscard]] std::filesystem::path cacheFolder();
// Sockets and locks of the login session: $XDG_RUNTIME_DIR when it is an absolute folder of
// ours that nobody else may enter; none otherwise.
[[nodiscard]] std::optional<std::filesystem::path> runtimeFolder();

// ---- Files ------------------------------------------------------------------------------

// Puts the file's data on disk (not necessarily its times); false with errno set.
[[nodiscard]] bool synchronizeData(int fd);
// Renames `from` to `to` unless something is at `to` (then false with EEXIST); false with
// errno set on failure. Atomic where the system can refuse to replace.
[[nodiscard]] bool renameWithoutReplacing(const std::filesystem::path& from,
                                          const std::filesystem::path& to);
// A file in `folder` that has no name until linkAnonymousFile gives it one, so a program
// killed while writing it leaves nothing behind. Invalid where the system or the file system
// has no such files: the caller then makes a named file.
[[nodiscard]] FileDescriptor makeAnonymousFile(const std::filesystem::path& folder);
// Gives an anonymous file the name `path` (which must not exist); false with errno set.
[[nodiscard]] bool linkAnonymousFile(int fd, const std::filesystem::path& path);

// A file held in memory only, which other code (libcurl) can open by `path` while
// `descriptor` is open; it is gone with the descriptor, however the program ends.
struct MemoryFile {
  FileDescriptor descriptor;
  std::filesystem::path path;
};
// Holds `contents`; none where the system has no such files (the caller then uses a temp file).
[[nodiscard]] std::optional<MemoryFile> makeMemoryFile(const char* name,
                                                       const std::string& contents);

// The real path of the file open as `fd`, which was opened by the name `openedAs`: what the
// descriptor is, whatever links or renames happened around the open. None when it cannot be
// told.
[[nodiscard]] std::optional<std::filesystem::path> openedFilePath(
    int fd, const std::filesystem::path& openedAs);

// ---- Processes --------------------------------------------------------------------------

// A pipe whose two ends are closed on exec; false with errno set.
[[nodiscard]] bool makeCloseOnExecPipe(int (&fds)[2]);
// In a child between fork and exec (async-signal-safe, no allocation): marks every
// descriptor above the standard streams close-on-exec.
void markInheritedDescriptorsCloseOnExec();

// The POSIX way of each call above, also what the Linux calls fall back to.
namespace posix {
std::filesystem::path executablePath();
std::vector<std::string> commandLine();
void nameCurrentThread(const std::string& name);
bool synchronizeData(int fd);
bool renameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to);
FileDescriptor makeAnonymousFile(const std::filesystem::path& folder);
bool linkAnonymousFile(int fd, const std::filesystem::path& path);
std::optional<MemoryFile> makeMemoryFile(const char* name, const std::string& contents);
std::optional<std::filesystem::path> openedFilePath(int fd, const std::filesystem::path& openedAs);
bool makeCloseOnExecPipe(int (&fds)[2]);
void markInheritedDescriptorsCloseOnExec();
}  // namespace posix

}  // namespace tolvane::platform::os
