#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>

#include "Platform/UnfairLock.h"
#include "UpdateServer/ReleaseFolder.h"

struct MHD_Daemon;

namespace tolvane::tools {

// Hosts a release folder for the installer over HTTPS (or plain HTTP), for development,
// demos and tests: "/loaderv3.php", whatever its query, answers the folder's manifest as
// JSON; any other path answers the file of that (percent-decoded) name below the folder.
// Files carry a strong ETag and Last-Modified; If-None-Match (304), If-Range and single
// byte ranges (206, 416) are honoured. Missing files and dotfiles are 404, paths that try
// to leave the folder 400, methods other than GET and HEAD 405.
//
// Requests are served by libmicrohttpd on one event-driven thread, so clients that stall
// hold a connection slot, never a worker: connections, header size and count, body size,
// idle time and the time to send a whole request are all bounded (Limits). The object
// itself is driven from one thread (start, stop, destruction); a watchdog thread of its own
// closes connections whose request is late.
class UpdateServer {
 public:
  struct Tls {
    std::filesystem::path certificateFile;  // PEM, may hold the chain
    std::filesystem::path privateKeyFile;   // PEM, unencrypted
  };
  struct Limits {
    // From the connection's start (or the end of its previous response) to the end of
    // the request, head and body, TLS handshake included.
    std::chrono::milliseconds request{10'000};
    // Longest silence while a response is sent (a request has its deadline above).
    unsigned idleSeconds = 30;
    unsigned connections = 256;
    std::size_t headerCount = 100;
    // Per connection: the request head must fit in part of it.
    std::size_t connectionMemory = 32 * 1024;
  };
  struct Options {
    std::filesystem::path root;
    std::string address = "127.0.0.1";
    int port = 0;            // 0: any free port
    std::optional<Tls> tls;  // none: plain HTTP
    // When set, one line per request: method, target (control bytes escaped), status.
    // Written under a lock.
    std::ostream* log = nullptr;
    Limits limits;
    // Runs on the server's thread between checking a file's name and opening it; lets
    // tests change the folder at exactly that moment.
    std::function<void()> beforeOpen;
  };

  // Checks the folder and reads the certificate and key; throws ToolError when the folder
  // is not there or they are unreadable.
  explicit UpdateServer(Options options);
  ~UpdateServer();
  UpdateServer(const UpdateServer&) = delete;
  UpdateServer& operator=(const UpdateServer&) = delete;

  // Binds and starts serving; returns the bound port. Throws ToolError when the address
  // cannot be bound or TLS cannot be set up.
  int start();
  // Stops accepting, closes connections, joins the threads. Idempotent.
  void stop();

  // "https://127.0.0.1:<port>" (or http), valid after start().
  [[nodiscard]] std::string origin() const;

 private:
  struct Connection;
  struct Callbacks;

  void watchRequests();
  void logRequestLine(std::string_view method, std::string_view target, std::string_view outcome);

  Options options_;
  ReleaseFolder folder_;
  std::string certificatePem_;
  std::string privateKeyPem_;
  MHD_Daemon* daemon_ = nullptr;
  int port_ = 0;
  // libmicrohttpd's messages while starting, for the ToolError.
  std::string startErrors_ TOLVANE_GUARDED_BY(logLock_);

  // What the watchdog needs of each open connection: its socket, and whether it owes a
  // request head or body and by when.
  struct Watch {
    int fd = -1;
    bool awaitingRequest = true;
    std::chrono::steady_clock::time_point requestDeadline;
  };
  platform::UnfairLock connectionsLock_;
  std::condition_variable watchdogWake_;
  bool stopping_ TOLVANE_GUARDED_BY(connectionsLock_) = false;
  std::map<const Connection*, Watch> watched_ TOLVANE_GUARDED_BY(connectionsLock_);
  std::thread watchdog_;

  // Taken for every write to *options_.log, which libmicrohttpd's threads share.
  platform::UnfairLock logLock_;
  // The daemon is up: its messages go to the log, no longer into the start-up error.
  bool running_ TOLVANE_GUARDED_BY(logLock_) = false;
};

}  // namespace tolvane::tools
