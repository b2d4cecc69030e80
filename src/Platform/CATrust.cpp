#include "Platform/CATrust.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <fstream>
#include <sstream>

#include "Platform/CurlMulti.h"
#include "Platform/FileDescriptor.h"
#include "Platform/OperatingSystem.h"

namespace tolvane::platform {
namespace {

std::optional<std::string> readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool isReadableFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), R_OK) == 0;
}

// "1a2b3c4d.0": eight hex digits, a dot, a decimal counter.
bool isHashName(const std::string& name) {
  const auto dot = name.find('.');
  if (dot != 8 || dot + 1 >= name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (i < 8 ? !std::isxdigit(c) : i > 8 && !std::isdigit(c)) return false;
  }
  return true;
}

}  // namespace

// libcurl with OpenSSL takes one CA file; to trust an extra CA besides the system bundle,
// the two are written together into one file the session owns. It is a memory file that
// libcurl opens by its path (os::makeMemoryFile): nothing is left in the temp folder however
// the program ends (it quits with _Exit, and may be killed). Only where that is unavailable
// does a temp file stand in, removed with the session.
class CATrust::BundleFile {
 public:
  explicit BundleFile(const std::string& bundle) {
    if (auto memory = os::makeMemoryFile("tolvane-ca", bundle)) {
      memory_ = std::move(memory->descriptor);
      path_ = std::move(memory->path);
      return;
    }
    std::error_code error;
    std::string pattern =
        (std::filesystem::temp_directory_path(error) / "tolvane-ca-XXXXXX").string();
    FileDescriptor file(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!file) return;
    path_ = pattern;
    temporary_ = true;
    if (!writeFully(file.get(), bundle.data(), bundle.size())) {
      std::filesystem::remove(path_, error);
      path_.clear();
    }
  }
  ~BundleFile() {
    std::error_code ignored;
    if (temporary_ && !path_.empty()) std::filesystem::remove(path_, ignored);
  }
  BundleFile(const BundleFile&) = delete;
  BundleFile& operator=(const BundleFile&) = delete;

  [[nodiscard]] const std::filesystem::path& path() const { return path_; }

 private:
  FileDescriptor memory_;
  std::filesystem::path path_;
  bool temporary_ = false;
};

CATrust::CATrust() = default;
CATrust::~CATrust() = default;

CATrust::SystemCAs CATrust::SystemCAs::ofLibcurl() {
  SystemCAs system;
  if (CurlEasy probe{curl_easy_init()}) {
    char* text = nullptr;
    if (curl_easy_getinfo(probe.get(), CURLINFO_CAINFO, &text) == CURLE_OK && text != nullptr)
      system.file = text;
    text = nullptr;
    if (curl_easy_getinfo(probe.get(), CURLINFO_CAPATH, &text) == CURLE_OK && text != nullptr)
      system.folder = text;
  }
  return system;
}

bool CATrust::isHashedFolder(const std::filesystem::path& folder) {
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    if (isHashName(it->path().filename().string())) return true;
  }
  return false;
}

std::shared_ptr<const CATrust> CATrust::make(const std::optional<std::filesystem::path>& extraFile,
                                             const SystemCAs& system) {
  std::shared_ptr<CATrust> trust(new CATrust);
  // An extra file that cannot be read is left out, as if none were configured.
  const bool extra = extraFile && isReadableFile(*extraFile);
  if (!system.folder.empty() && isHashedFolder(system.folder)) {
    trust->folder_ = system.folder;
    if (extra) trust->file_ = *extraFile;
    return trust;
  }
  if (!extra) {
    // The bundle alone: with no folder beside it libcurl keeps it parsed for the session.
    trust->file_ = system.file;
    return trust;
  }
  std::string bundle = system.file.empty() ? "" : readFile(system.file).value_or("");
  if (!bundle.empty() && bundle.back() != '\n') bundle.push_back('\n');
  bundle += readFile(*extraFile).value_or("");
  trust->bundle_ = std::make_unique<BundleFile>(bundle);
  trust->file_ = trust->bundle_->path();
  return trust;
}

bool CATrust::apply(CURL* easy) const {
  // Nothing found at all: libcurl's own defaults are the best left.
  if (file_.empty() && folder_.empty()) return true;
  const char* file = file_.empty() ? nullptr : file_.c_str();
  const char* folder = folder_.empty() ? nullptr : folder_.c_str();
  return curl_easy_setopt(easy, CURLOPT_CAINFO, file) == CURLE_OK &&
         curl_easy_setopt(easy, CURLOPT_CAPATH, folder) == CURLE_OK;
}

}  // namespace tolvane::platform
