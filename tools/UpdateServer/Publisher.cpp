#include "UpdateServer/Publisher.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <functional>
#include <nlohmann/json.hpp>
#include <system_error>

#include "Installer/ReleaseSignature.h"
#include "Installer/ReleaseSignatureError.h"
#include "Platform/FileDescriptor.h"
#include "Platform/SystemError.h"
#include "UpdateServer/Sha256.h"
#include "UpdateServer/ToolError.h"

namespace tolvane::tools {

namespace fs = std::filesystem;
using platform::FileDescriptor;
using platform::SystemError;

namespace {

// ".<file name>.publishing-XXXXXX" next to the final place; the fixed middle lets the next
// publish recognise what a killed one left behind without touching the operator's files.
constexpr std::string_view kStagingMarker = ".publishing-";
constexpr std::size_t kStagingSuffixLength = 6;  // mkstemp's XXXXXX

// The operator's console reads "<operation>: <errno text>: "<path>"", in English.
[[noreturn]] void failWithErrno(const std::string& operation, const fs::path& path) {
  const int code = errno;
  throw ToolError::failure(operation + ": " + SystemError::systemMessage(code) + ": \"" +
                           path.string() + "\"");
}

// A temporary file next to its final place; removed again unless it was committed, so a
// failed publish leaves nothing behind.
class StagedFile {
 public:
  explicit StagedFile(const fs::path& destination) : destination_(destination) {
    std::string pattern = (destination.parent_path() / ("." + destination.filename().string() +
                                                        std::string(kStagingMarker) + "XXXXXX"))
                              .string();
    fd_.reset(::mkstemp(pattern.data()));
    if (!fd_) {
      failWithErrno("create temporary file", pattern);
    }
    path_ = pattern;
  }
  ~StagedFile() {
    if (!committed_) {
      std::error_code ignored;
      fs::remove(path_, ignored);
    }
  }
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  [[nodiscard]] const fs::path& path() const { return path_; }

  void write(const char* data, std::size_t length) {
    while (length > 0) {
      const ssize_t written = ::write(fd_.get(), data, length);
      if (written < 0) {
        if (errno == EINTR) {
          continue;
        }
        failWithErrno("write", path_);
      }
      data += written;
      length -= static_cast<std::size_t>(written);
    }
  }

  // Makes the content durable before the rename makes it visible; otherwise a crash could
  // leave a visible file of zeros under the final name.
  void commit() {
    // mkstemp creates 0600; a hosted release must be readable by the web server's user.
    if (::fchmod(fd_.get(), 0644) != 0) {
      failWithErrno("chmod", path_);
    }
    if (::fsync(fd_.get()) != 0) {
      failWithErrno("fsync", path_);
    }
    if (::close(fd_.release()) != 0) {
      failWithErrno("close", path_);
    }
    if (::rename(path_.c_str(), destination_.c_str()) != 0) {
      failWithErrno("rename", destination_);
    }
    committed_ = true;
    syncFolder(destination_.parent_path());
  }

 private:
  static void syncFolder(const fs::path& folder) {
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) {
      ::fsync(fd.get());
    }
  }

  fs::path destination_;
  fs::path path_;
  FileDescriptor fd_;
  bool committed_ = false;
};

// An exclusive flock on the release folder itself: no lock file appears among the files a
// web server hosts, and a killed holder releases it with its descriptor.
class FolderLock {
 public:
  FolderLock(const fs::path& folder, const std::function<void()>& stopIfAsked)
      : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (!fd_) {
      failWithErrno("open", folder);
    }
    while (::flock(fd_.get(), LOCK_EX) != 0) {
      if (errno != EINTR) {
        failWithErrno("lock", folder);
      }
      stopIfAsked();
    }
  }

 private:
  FileDescriptor fd_;
};

// Empty when the file cannot be read: it then counts as holding other content.
std::string sha256Of(int fd, const fs::path& path) {
  try {
    return Sha256::hex(platform::Digest::ofFile(platform::Digest::Algorithm::sha256, fd, path));
  } catch (const SystemError&) {
    return {};
  }
}

// Whether the regular file at `path` exists and holds something other than `hash`.
bool holdsOtherContent(const fs::path& path, const std::string& hash) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
  struct stat status {};
  if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return false;
  }
  return sha256Of(fd.get(), path) != hash;
}

// The signature as given, refused unless installers could accept it: a minisign signature
// whose trusted comment carries the time the rollback check compares.
ReleaseSignature readSignature(const fs::path& file) {
  try {
    ReleaseSignature signature = ReleaseSignature::read(file);
    if (!signature.timestamp()) {
      throw ToolError::usage("refusing the signature \"" + file.string() +
                             "\": its trusted comment has no timestamp:<seconds>, which "
                             "installers need (sign with minisign's own trusted comment)");
    }
    return signature;
  } catch (const ReleaseSignatureError& error) {
    throw ToolError::usage("refusing the signature \"" + file.string() +
                           "\": " + error.localizedDescription());
  } catch (const SystemError& error) {
    throw ToolError::failure(error.debugDescription());
  }
}

}  // namespace

bool Publisher::isStagingName(std::string_view name) {
  const std::size_t tail = kStagingMarker.size() + kStagingSuffixLength;
  return name.size() > tail + 1 && name.front() == '.' &&
         name.substr(name.size() - tail, kStagingMarker.size()) == kStagingMarker;
}

void Publisher::stopIfAsked() const {
  const int signal = stopSignal_ == nullptr ? 0 : stopSignal_->load();
  if (signal != 0) {
    throw ToolError(
        "stopped by signal " + std::to_string(signal) + "; the release folder is unchanged",
        128 + signal);
  }
}

Publisher::Publication Publisher::publish(const fs::path& jar, const std::string& relativePath,
                                          const std::optional<Signing>& signing) const {
  if (auto refusal = ReleaseFolder::refusalForPublishPath(relativePath)) {
    throw ToolError::usage("cannot publish to \"" + relativePath + "\": " + *refusal);
  }
  const std::optional<ReleaseSignature> signature =
      signing ? std::optional(readSignature(signing->signature)) : std::nullopt;

  // A pipe blocks here until its writer opens it; a stop signal ends the wait.
  FileDescriptor source;
  while (true) {
    source.reset(::open(jar.c_str(), O_RDONLY | O_CLOEXEC));
    if (source) {
      break;
    }
    if (errno != EINTR) {
      failWithErrno("open", jar);
    }
    stopIfAsked();
  }
  struct stat sourceStatus {};
  if (::fstat(source.get(), &sourceStatus) != 0) {
    failWithErrno("stat", jar);
  }
  if (!S_ISREG(sourceStatus.st_mode) && !S_ISFIFO(sourceStatus.st_mode)) {
    throw ToolError::failure("\"" + jar.string() + "\" is not a regular file or a pipe");
  }

  const fs::path destination = folder_.root() / fs::path(relativePath);
  std::error_code error;
  fs::create_directories(folder_.root(), error);
  if (error) {
    throw ToolError::failure("cannot create \"" + folder_.root().string() +
                             "\": " + error.message());
  }
  const FolderLock lock(folder_.root(), [this] { stopIfAsked(); });
  stopIfAsked();
  // Under the lock no other publish is staging, so every staging file is a leftover.
  for (auto it = fs::recursive_directory_iterator(folder_.root(), error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_regular_file(error) && isStagingName(it->path().filename().string())) {
      fs::remove(it->path(), error);
    }
  }

  // The text of the path cannot leave the folder, but a symbolic link on the way can; each
  // folder is checked before anything is created inside it.
  fs::path folder = folder_.root();
  for (const fs::path& component : fs::path(relativePath).parent_path()) {
    folder /= component;
    if (fs::exists(fs::symlink_status(folder, error))) {
      const fs::path real = fs::canonical(folder, error);
      if (error || !folder_.contains(real)) {
        throw ToolError::usage("cannot publish to \"" + relativePath +
                               "\": the path leaves the release folder through a symbolic link");
      }
    } else if (!fs::create_directory(folder, error) && error) {
      throw ToolError::failure("cannot create \"" + folder.string() + "\": " + error.message());
    }
  }
  if (fs::is_directory(destination, error)) {
    throw ToolError::failure("cannot publish to \"" + relativePath + "\": a folder is there");
  }

  // One pass: what is hashed is exactly what was written.
  Sha256 sha256;
  std::int64_t size = 0;
  StagedFile stagedJar(destination);
  std::array<char, 1 << 16> buffer{};
  while (true) {
    stopIfAsked();
    const ssize_t got = ::read(source.get(), buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      failWithErrno("read", jar);
    }
    if (got == 0) {
      break;
    }
    const auto length = static_cast<std::size_t>(got);
    sha256.update(buffer.data(), length);
    stagedJar.write(buffer.data(), length);
    size += got;
  }
  Publication publication{{relativePath, sha256.finishHex(), size}, false, std::nullopt};
  publication.replacedDifferentFile = holdsOtherContent(destination, publication.entry.hash);
  const fs::path signatureFile =
      destination.string() + std::string(ReleaseSignature::kFileExtension);
  if (signature) {
    // The copy is what installers will check, so the copy is what is verified.
    PublishedSignature published{relativePath + std::string(ReleaseSignature::kFileExtension),
                                 ReleasePublicKey::idText(signature->keyId()),
                                 *signature->timestamp(), false};
    if (signing->key) {
      try {
        (void)signature->verify(stagedJar.path(), ReleaseKeys({*signing->key}));
      } catch (const ReleaseSignatureError& error) {
        throw ToolError::usage("refusing the signature \"" + signing->signature.string() +
                               "\" of \"" + jar.string() + "\": " + error.localizedDescription());
      }
      published.verified = true;
    }
    publication.signature = std::move(published);
  }
  stopIfAsked();
  // From here on the publish finishes: stopping between the jar and the manifest would
  // leave a manifest that no longer describes the file at its path.
  if (!signature && ::unlink(signatureFile.c_str()) != 0 && errno != ENOENT) {
    failWithErrno("remove the earlier signature", signatureFile);
  }
  stagedJar.commit();
  if (signature) {
    StagedFile stagedSignature(signatureFile);
    stagedSignature.write(signature->text().data(), signature->text().size());
    stagedSignature.commit();
  }

  const ManifestEntry& entry = publication.entry;
  const nlohmann::json manifest = {
      {"files", nlohmann::json::array(
                    {{{"path", entry.path}, {"hash", entry.hash}, {"size", entry.size}}})}};
  const std::string text = manifest.dump(2) + "\n";
  StagedFile stagedManifest(folder_.manifestFile());
  stagedManifest.write(text.data(), text.size());
  stagedManifest.commit();
  return publication;
}

}  // namespace tolvane::tools
