#pragma once

#include <curl/curl.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace tolvane::platform {

// Which certificate authorities a session's connections trust: the system's, plus those of
// an extra CA file (a private or test server's) when one is configured.
//
// How the system's are read decides what a new connection costs. The system bundle is a
// file of well over a hundred certificates, and libcurl parses it again for every
// connection whenever a CA folder is set as well (as Debian's libcurl does by default),
// which costs milliseconds each. The hashed CA folder is read lazily instead: only the
// certificate that issued the server's chain is looked up, by name. So the folder is used
// whenever it holds hashed names, with the extra file (usually one certificate) beside it;
// only without a usable folder is the bundle read, once per session, together with the
// extra file.
class CATrust {
 public:
  // Where libcurl itself would look for the system's CAs.
  struct SystemCAs {
    std::filesystem::path file;
    std::filesystem::path folder;
    [[nodiscard]] static SystemCAs ofLibcurl();
  };

  [[nodiscard]] static std::shared_ptr<const CATrust> make(
      const std::optional<std::filesystem::path>& extraFile,
      const SystemCAs& system = SystemCAs::ofLibcurl());
  ~CATrust();

  // Sets CURLOPT_CAINFO and CURLOPT_CAPATH on `easy`; false when libcurl refused one.
  [[nodiscard]] bool apply(CURL* easy) const;

  // The file and folder chosen (empty: none), for tests and diagnostics.
  [[nodiscard]] const std::filesystem::path& file() const { return file_; }
  [[nodiscard]] const std::filesystem::path& folder() const { return folder_; }

  // Whether `folder` holds at least one certificate under its subject-hash name ("1a2b3c4d.0"),
  // the only names OpenSSL's folder lookup finds.
  [[nodiscard]] static bool isHashedFolder(const std::filesystem::path& folder);

  CATrust(const CATrust&) = delete;
  CATrust& operator=(const CATrust&) = delete;

 private:
  class BundleFile;
  CATrust();

  std::filesystem::path file_;
  std::filesystem::path folder_;
  std::unique_ptr<BundleFile> bundle_;
};

}  // namespace tolvane::platform
