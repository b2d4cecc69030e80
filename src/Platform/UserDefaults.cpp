#include "Platform/UserDefaults.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <vector>

#include "Platform/Base64.h"
#include "Platform/FileDescriptor.h"
#include "Platform/FileManager.h"
#include "Platform/OperatingSystem.h"
#include "Platform/SystemError.h"

namespace tolvane::platform {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* kFolderName = "tolvane-installer";
constexpr const char* kFileName = "defaults.json";

// The stored document, or an empty object when it is missing, unreadable or not an object.
json readDocument(const fs::path& file) {
  FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return json::object();
  std::string text;
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      return json::object();
    }
    if (got == 0) break;
    text.append(buffer.data(), static_cast<size_t>(got));
  }
  json document = json::parse(text, nullptr, /*allow_exceptions=*/false);
  return document.is_object() ? document : json::object();
}

constexpr auto kSave = SystemError::Operation::save;

void writeDocumentAtomically(const fs::path& file, const json& document) {
  const fs::path folder = file.parent_path();
  FileManager::defaultManager().createDirectory(folder, true);
  std::string pattern = (folder / (std::string(kFileName) + ".XXXXXX")).string();
  FileDescriptor fd(::mkostemp(pattern.data(), O_CLOEXEC));
  // Every failure is told as one to save the settings file: the temporary file next to it is
  // ours, not the user's.
  if (!fd) throw SystemError::fromErrno(kSave, file);
  const fs::path temporary = pattern;
  try {
    const std::string text = document.dump(-1, ' ', false, json::error_handler_t::replace);
    if (!writeFully(fd.get(), text.data(), text.size())) throw SystemError::fromErrno(kSave, file);
    if (::fsync(fd.get()) != 0) throw SystemError::fromErrno(kSave, file);
    if (::close(fd.release()) != 0) throw SystemError::fromErrno(kSave, file);
    if (::rename(temporary.c_str(), file.c_str()) != 0) throw SystemError::fromErrno(kSave, file);
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
  // Make the rename itself durable; a failure here loses nothing already visible.
  FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir) ::fsync(dir.get());
}

}  // namespace

UserDefaults& UserDefaults::standard() {
  static UserDefaults defaults;
  return defaults;
}

fs::path UserDefaults::fileURL() const { return os::settingsFolder() / kFolderName / kFileName; }

std::optional<Data> UserDefaults::data(const std::string& key) const {
  const std::lock_guard lock(mutex_);
  const json document = readDocument(fileURL());
  const auto it = document.find(key);
  if (it == document.end() || !it->is_string()) return std::nullopt;
  return decodeBase64(it->get<std::string>());
}

void UserDefaults::set(const Data& value, const std::string& key) {
  const std::lock_guard lock(mutex_);
  const fs::path file = fileURL();
  json document = readDocument(file);
  document[key] = encodeBase64(value);
  writeDocumentAtomically(file, document);
}

void UserDefaults::checkWritable() const {
  const std::lock_guard lock(mutex_);
  const fs::path folder = fileURL().parent_path();
  FileManager::defaultManager().createDirectory(folder, true);
  std::string pattern = (folder / (std::string(kFileName) + ".XXXXXX")).string();
  const FileDescriptor fd(::mkostemp(pattern.data(), O_CLOEXEC));
  if (!fd) throw SystemError::fromErrno(kSave, folder / kFileName);
  ::unlink(pattern.c_str());
}

void UserDefaults::removeObject(const std::string& key) {
  const std::lock_guard lock(mutex_);
  const fs::path file = fileURL();
  json document = readDocument(file);
  if (document.erase(key) == 0) return;
  writeDocumentAtomically(file, document);
}

}  // namespace tolvane::platform
