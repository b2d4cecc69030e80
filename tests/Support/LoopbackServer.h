#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Support/TestCertificate.h"

namespace tolvane::test {

// A request as the server saw it, for assertions.
struct RecordedRequest {
  std::string method;
  std::string path;
  std::string query;  // raw, without "?"
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // First value of a header, matched case-insensitively.
  std::optional<std::string> header(const std::string& name) const;
};

// An HTTP or HTTPS server on 127.0.0.1 with a port the system picks, for tests that need a
// real peer. Register routes, then call start() (url() and port() start it too); the
// destructor stops the server and joins its threads, also while a handler is stalling.
// Besides plain handlers it offers scripted faults: late headers, drip-fed bodies, bodies
// shorter than announced, stalls, connection resets and a port that refuses connections.
class LoopbackServer {
 public:
  struct Options {
    bool https = true;
    // Certificate and key for HTTPS; the shared loopback pair when not set.
    std::optional<TestCertificate::Pair> certificate;
    // Close every connection with an RST instead of a FIN (SO_LINGER 0).
    bool resetConnections = false;
  };
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
  // Options for a server that speaks plain HTTP.
  static Options plainHTTP() {
    Options options;
    options.https = false;
    return options;
  }

  LoopbackServer();
  explicit LoopbackServer(Options options);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  void start();
  int port();
  // "https://127.0.0.1:<port>" (or http) followed by `pathAndQuery`.
  std::string url(const std::string& pathAndQuery = "/");

  // Direct access for anything the helpers below do not cover.
  httplib::Server& server() { return *server_; }
  void get(const std::string& pattern, Handler handler);
  void post(const std::string& pattern, Handler handler);

  // Answers with `body` at once.
  void serveBody(const std::string& pattern, std::string body,
                 std::string contentType = "application/octet-stream",
                 std::vector<std::pair<std::string, std::string>> headers = {});
  // Streams a file from disk (never all in memory), honouring "Range: bytes=N-[M]" and
  // If-Range against `entityTag`, which it sends as ETag. A `chunkInterval` slows the body
  // down to 64 KiB per interval, so a test can act in the middle of it.
  void serveFile(const std::string& pattern, std::filesystem::path file, std::string entityTag,
                 std::chrono::milliseconds chunkInterval = std::chrono::milliseconds(0));
  // Waits `delay` before sending the head, then the body.
  void delayHeaders(const std::string& pattern, std::chrono::milliseconds delay, std::string body);
  // Announces `totalBytes`, then sends `chunkBytes` every `interval`.
  void dripFeed(const std::string& pattern, std::size_t totalBytes, std::size_t chunkBytes,
                std::chrono::milliseconds interval);
  // Announces `announcedBytes`, sends `body` (shorter), then closes the connection (with a
  // reset when the server was made with resetConnections). `headers` go with the head (an
  // ETag or Last-Modified makes the transport keep a partial file to resume from).
  void shortBody(const std::string& pattern, std::size_t announcedBytes, std::string body,
                 std::vector<std::pair<std::string, std::string>> headers = {});
  // Sends patternBytes(totalBytes), made when the request arrives, in pieces of `pieceBytes`,
  // with its length announced in Content-Length or (`announced` false) chunked without one;
  // `sent`, when given, counts the bytes written.
  void servePieces(const std::string& pattern, std::size_t totalBytes, bool announced,
                   std::size_t pieceBytes = 64 * 1024,
                   std::shared_ptr<std::atomic<std::size_t>> sent = nullptr);

  // Every request received so far, in arrival order.
  std::vector<RecordedRequest> requests() const;
  std::size_t requestCount() const;

  // For handlers: sleeps up to `duration`; false when the server is stopping meanwhile.
  bool pause(std::chrono::milliseconds duration);

  // A loopback port with nothing listening on it.
  static int refusedPort();

 private:
  void stop();

  Options options_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  bool started_ = false;

  mutable std::mutex mutex_;  // guards the fields below
  std::condition_variable stopping_;
  bool stopRequested_ = false;
  std::vector<RecordedRequest> requests_;
};

// Deterministic bytes for bodies and files: position i holds a value derived from i, so a
// spliced or shifted copy never compares equal.
std::string patternBytes(std::size_t size, std::uint32_t seed = 1);

}  // namespace tolvane::test
