#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>

#include "UpdateServer/ReleaseFolder.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace tolvane::tools {

// Hosts a release folder for the installer over HTTPS (or plain HTTP): "/loaderv3.php",
// whatever its query, answers the folder's manifest as JSON; any other path answers the
// file of that (percent-decoded) name below the folder, with single byte ranges (206,
// 416). Missing files are 404, paths that try to leave the folder 400 (or 404 when a
// symbolic link leads out). Requests are served on cpp-httplib's worker threads; the
// object itself is driven from one thread (start, stop, destruction).
class UpdateServer {
 public:
  struct Tls {
    std::filesystem::path certificateFile;  // PEM, may hold the chain
    std::filesystem::path privateKeyFile;   // PEM, unencrypted
  };
  struct Options {
    std::filesystem::path root;
    std::string address = "127.0.0.1";
    int port = 0;  // 0: any free port
    std::optional<Tls> tls;  // none: plain HTTP
    // When set, one line per request: method, target, status. Written under a lock.
    std::ostream* log = nullptr;
  };

  // Loads the certificate and key; throws ToolError when they are unusable.
  explicit UpdateServer(Options options);
  ~UpdateServer();
  UpdateServer(const UpdateServer&) = delete;
  UpdateServer& operator=(const UpdateServer&) = delete;

  // Binds and starts serving on a thread of its own; returns the bound port. Throws
  // ToolError when the address cannot be bound.
  int start();
  // Stops accepting, finishes the listener thread. Idempotent.
  void stop();

  // "https://127.0.0.1:<port>" (or http), valid after start().
  [[nodiscard]] std::string origin() const;

 private:
  void serveManifest(const httplib::Request& request, httplib::Response& response) const;
  void serveFile(const httplib::Request& request, httplib::Response& response) const;
  void logRequest(const httplib::Request& request, const httplib::Response& response);

  Options options_;
  ReleaseFolder folder_;
  std::unique_ptr<httplib::Server> server_;
  std::thread listener_;
  int port_ = 0;
  std::mutex logMutex_;  // guards writes to *options_.log
};

}  // namespace tolvane::tools
