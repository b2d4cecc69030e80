#include "Installer/InstalledRelease.h"

#include <chrono>
#include <nlohmann/json.hpp>
#include <system_error>

#include "Installer/ReleaseKeys.h"
#include "Installer/ReleaseSignatureError.h"
#include "Platform/SystemError.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;

struct JarIdentity {
  std::uintmax_t size = 0;
  std::int64_t modified = 0;
};

std::optional<JarIdentity> identity(const fs::path& jar, std::error_code& error) {
  const auto size = fs::file_size(jar, error);
  if (error) return std::nullopt;
  const auto modified = fs::last_write_time(jar, error);
  if (error) return std::nullopt;
  return JarIdentity{
      size,
      std::chrono::duration_cast<std::chrono::nanoseconds>(modified.time_since_epoch()).count()};
}

}  // namespace

std::optional<InstalledRelease> InstalledRelease::load(const platform::UserDefaults& defaults) {
  const auto data = defaults.data(kKey);
  if (!data) return std::nullopt;
  const auto json = nlohmann::json::parse(*data, nullptr, false);
  try {
    return InstalledRelease{json.at("timestamp").get<std::int64_t>(),
                            json.at("jarSize").get<std::uintmax_t>(),
                            json.at("jarModified").get<std::int64_t>()};
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

void InstalledRelease::store(platform::UserDefaults& defaults, std::int64_t timestamp,
                             const fs::path& jar) {
  std::error_code error;
  const auto file = identity(jar, error);
  if (!file)
    throw platform::SystemError(error.value(), platform::SystemError::Operation::read, jar);
  const nlohmann::ordered_json json = {
      {"timestamp", timestamp}, {"jarSize", file->size}, {"jarModified", file->modified}};
  defaults.set(json.dump(), kKey);
}

bool InstalledRelease::describes(const fs::path& jar) const {
  std::error_code error;
  const auto file = identity(jar, error);
  return file && file->size == jarSize && file->modified == jarModified;
}

bool releaseKeysConfigured() {
  try {
    return !ReleaseKeys::configured().empty();
  } catch (const ReleaseSignatureError&) {
    return true;
  }
}

}  // namespace tolvane
