#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Process.h"
#include "Support/TemporaryDirectory.h"

namespace tolvane::test {

// How nginx serves the folder.
struct NginxOptions {
  // With false ("etag off"), files carry only Last-Modified as their validator.
  bool entityTags = true;
};

// nginx (Debian's nginx-light) hosting a release folder over HTTPS on 127.0.0.1, the way an
// operator serves one: the manifest "loaderv3.php" as JSON that caches must revalidate, the
// jars as static files. The port is one the system picked; the configuration, the logs and
// nginx's own temp folders live in a temporary folder. The constructor returns once nginx
// accepts connections; the destructor stops it and waits for it.
//
// Tests call `skipReason()` first and skip with it when nginx is not installed.
class NginxServer {
 public:
  static constexpr const char* kExecutable = "/usr/sbin/nginx";
  using Options = NginxOptions;

  // Empty when nginx can be used, else a message for GTEST_SKIP.
  [[nodiscard]] static std::string skipReason();

  // The configuration for a release folder at `root` on `port`, with the certificate and key
  // named; `scratch` holds the pid file and nginx's temp folders.
  [[nodiscard]] static std::string configuration(const std::filesystem::path& root, int port,
                                                 const std::filesystem::path& certificate,
                                                 const std::filesystem::path& privateKey,
                                                 const std::filesystem::path& scratch,
                                                 Options options = {});

  // Serves `root` with the shared loopback certificate. Throws std::runtime_error with
  // nginx's error log when it does not come up.
  explicit NginxServer(std::filesystem::path root, Options options = {});
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  [[nodiscard]] int port() const { return port_; }
  // "https://127.0.0.1:<port>" followed by `pathAndQuery`.
  [[nodiscard]] std::string url(const std::string& pathAndQuery = "/") const;

  // "<method> <uri> <status>" of every request answered so far, in order, from the access log.
  [[nodiscard]] std::vector<std::string> requests() const;

 private:
  TemporaryDirectory scratch_;
  int port_ = 0;
  std::unique_ptr<platform::Process> process_;
};

}  // namespace tolvane::test
