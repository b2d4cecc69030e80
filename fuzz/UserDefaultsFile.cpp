// Writes the input as the settings file of a private XDG_CONFIG_HOME and reads it through
// UserDefaults. A file that is not a JSON object reads as no entries, only text entries
// read as bytes (which base64 texts do is UserDefaultsTests'), and writing afterwards must
// leave a readable file that keeps the other entries.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "Installer/FileModel.h"
#include "Installer/StoredFileModel.h"
#include "Invariant.h"
#include "Platform/UserDefaults.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using tolvane::platform::Data;
using tolvane::platform::UserDefaults;

using tolvane::fuzz::check;
using tolvane::fuzz::fail;

fs::path gConfigHome;

fs::path settingsFile() { return gConfigHome / "tolvane-installer" / "defaults.json"; }

void writeFile(const fs::path& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  check(out.good(), "the fuzz input can be written as the settings file");
}

// The keys worth reading: the program's own, the empty key, and the first few in the file
// (each read opens the file again, and system calls are the cost here).
std::vector<std::string> probedKeys(const json& document) {
  std::vector<std::string> keys{"loaderModel", "MainWindow", ""};
  if (document.is_object()) {
    for (const auto& [key, value] : document.items()) {
      if (keys.size() >= 8) break;
      keys.push_back(key);
    }
  }
  return keys;
}

bool holdsText(const json& document, const std::string& key) {
  if (!document.is_object()) return false;
  const auto it = document.find(key);
  return it != document.end() && it->is_string();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gConfigHome = tolvane::fuzz::scratchFolder("defaults");
  fs::create_directories(gConfigHome / "tolvane-installer");
  ::setenv("XDG_CONFIG_HOME", gConfigHome.c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = tolvane::fuzz::text(data, size);
  writeFile(settingsFile(), bytes);

  UserDefaults defaults;
  check(defaults.fileURL() == settingsFile(), "the settings live under XDG_CONFIG_HOME");

  json document = json::parse(bytes, nullptr, /*allow_exceptions=*/false);
  if (document.is_discarded()) document = nullptr;
  const std::vector<std::string> keys = probedKeys(document);
  std::vector<std::optional<Data>> before;
  for (const auto& key : keys) {
    before.push_back(defaults.data(key));
    check(!before.back() || holdsText(document, key),
          "a corrupt file, a missing or a foreign entry reads as nothing");
  }
  const auto stored = tolvane::fileModel(defaults, "loaderModel");
  check(!stored || before[0].has_value(), "a stored entry needs stored bytes");

  const auto checkOthersKept = [&](const char* what) {
    for (std::size_t i = 1; i < keys.size(); ++i) {
      if (keys[i] != "loaderModel") check(defaults.data(keys[i]) == before[i], what);
    }
  };
  // Writing over whatever was there must leave a readable file with the other entries.
  const Data value(bytes.substr(0, 48));
  defaults.set(value, "loaderModel");
  std::ifstream file(settingsFile(), std::ios::binary);
  const json written = json::parse(file, nullptr, /*allow_exceptions=*/false);
  check(!written.is_discarded() && written.is_object(), "a write leaves a JSON object");
  check(defaults.data("loaderModel") == value, "the written bytes read back");
  checkOthersKept("a write keeps the other entries");

  defaults.removeObject("loaderModel");
  check(!defaults.data("loaderModel").has_value(), "a removed entry is gone");
  checkOthersKept("a removal keeps the other entries");

  tolvane::FileModel model{"launcher/Tolvane.jar", "h" + std::to_string(size),
                           static_cast<std::int64_t>(size)};
  tolvane::storeFileModel(defaults, model, "loaderModel");
  const auto reread = tolvane::fileModel(defaults, "loaderModel");
  check(reread.has_value() && *reread == model, "a stored manifest entry reads back");
  return 0;
}
