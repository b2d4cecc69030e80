// Writes the input as the settings file of a private XDG_CONFIG_HOME and reads it through
// UserDefaults. A file that is not a JSON object reads as no entries, an entry reads as its
// bytes exactly when it holds valid base64, and writing afterwards must leave a readable
// file that keeps the other entries.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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

std::string readFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Standard base64 with "=" padding; nothing for any other text.
std::optional<Data> base64Decoded(const std::string& text) {
  constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
  Data out;
  std::uint32_t bits = 0;
  int count = 0;
  for (std::size_t i = 0; i < text.size() - padding; ++i) {
    const auto digit = kAlphabet.find(text[i]);
    if (digit == std::string_view::npos) return std::nullopt;
    bits = (bits << 6) | static_cast<std::uint32_t>(digit);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
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

std::optional<Data> expectedValue(const json& document, const std::string& key) {
  if (!document.is_object()) return std::nullopt;
  const auto it = document.find(key);
  if (it == document.end() || !it->is_string()) return std::nullopt;
  return base64Decoded(it->get<std::string>());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Every write syncs the file and its folder; on a RAM disk that costs nothing, which is
  // the difference between tens and thousands of runs a second.
  std::error_code error;
  const fs::path ramDisk = "/dev/shm";
  const fs::path base = fs::is_directory(ramDisk, error) && ::access(ramDisk.c_str(), W_OK) == 0
                            ? ramDisk
                            : fs::temp_directory_path();
  std::string pattern = (base / "tolvane-fuzz-defaults.XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) fail("a temporary config folder can be made");
  gConfigHome = pattern;
  fs::create_directories(gConfigHome / "tolvane-installer");
  ::setenv("XDG_CONFIG_HOME", gConfigHome.c_str(), 1);
  std::atexit([] {
    std::error_code ignored;
    fs::remove_all(gConfigHome, ignored);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  writeFile(settingsFile(), bytes);

  UserDefaults defaults;
  check(defaults.fileURL() == settingsFile(), "the settings live under XDG_CONFIG_HOME");

  json document = json::parse(bytes, nullptr, /*allow_exceptions=*/false);
  if (document.is_discarded()) document = nullptr;
  const std::vector<std::string> keys = probedKeys(document);
  std::vector<std::optional<Data>> before;
  for (const auto& key : keys) {
    before.push_back(defaults.data(key));
    check(before.back() == expectedValue(document, key),
          "an entry reads as its base64 bytes; a corrupt file or entry as nothing");
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
  const json written = json::parse(readFile(settingsFile()), nullptr, /*allow_exceptions=*/false);
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
