#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Support/LoopbackServer.h"

namespace tolvane::test {

// A file behind a connection that keeps breaking: each response is cut off (the connection
// closed short of the announced length) once a fraction of the whole file has gone out in
// it. Sends ETag and/or Last-Modified (and Date), and answers "Range: bytes=N-" with 206 when
// If-Range (if any) names the current version. Knobs for servers that get ranges wrong or
// compress. The served version can change between responses. Thread-safe: handlers run on
// server threads.
class FlakyFile : public std::enable_shared_from_this<FlakyFile> {
 public:
  struct Version {
    std::string body;
    std::string entityTag;     // not sent when empty
    std::string lastModified;  // not sent when empty
    std::string date = {};     // not sent when empty
  };
  struct Behaviour {
    // Each response stops after this fraction of the whole body.
    double dropFraction = 0.4;
    // Only this many responses are cut off; the later ones are whole. All when none.
    std::optional<int> dropLimit = std::nullopt;
    bool ranges = true;
    bool honoursIfRange = true;
    // Added to the start of every partial response: a server that sends the wrong piece.
    std::int64_t rangeSkew = 0;
    // The ETag goes with partial responses too.
    bool tagOnPartial = true;
    // The body is sent gzip-coded to a request that accepts gzip (ranges count coded bytes).
    bool gzip = false;
  };

  FlakyFile(Version version, Behaviour behaviour);

  // Registers the route on `server`; the returned object stays alive with the route.
  static std::shared_ptr<FlakyFile> serve(LoopbackServer& server, const std::string& pattern,
                                          Version version, Behaviour behaviour);

  // Responses after the first `responses` ones serve `next`.
  void changeAfter(int responses, Version next);
  [[nodiscard]] std::uint64_t bodyBytesSent() const;
  // How many responses the file has given; the flaky-download benchmark reports it.
  [[nodiscard]] int responses() const;

 private:
  void handle(LoopbackServer& server, const httplib::Request& request, httplib::Response& response);

  const Behaviour behaviour_;
  mutable std::mutex mutex_;  // guards the fields below
  Version version_;
  std::optional<std::pair<int, Version>> change_;
  int responses_ = 0;
  std::uint64_t bodyBytesSent_ = 0;
};

}  // namespace tolvane::test
