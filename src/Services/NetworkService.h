#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "HTTP/Core/HTTPHeaders.h"
#include "HTTP/Core/HTTPMethod.h"
#include "Installer/LoaderModel.h"
#include "Installer/NetworkServicing.h"
#include "Services/RetryHandler.h"

namespace tolvane {

namespace http {
class Session;
}

// Fetches the update manifest from the update server as a LoaderModel: one GET on the
// session it is given (the HTTP layer's default session in the program) with a 5-second time-out,
// default validation and JSON decoding, retried by a new RetryHandler. It is the only place that
// knows the manifest's address; the origin is read from platform::Configuration at every call.
//
// Stateless; calls may come from any thread except the main queue's: the call blocks until
// the response handler, which runs on the main queue, hands over the outcome, so blocking
// the main queue would wait forever. A call from main-queue work stops the process.
// Someone must be running the main queue meanwhile (MainRunLoop::run, runUntil, or the
// GUI's poster).
class NetworkService final : public NetworkServicing {
 public:
  using RetryHandlerFactory = std::function<std::shared_ptr<RetryHandler>()>;

  // Appended to the origin when no endpoint is given.
  static constexpr const char* kDefaultPath = "/loaderv3.php?os=macos";
  static constexpr double kTimeoutInterval = 5.0;
  // A manifest is a few hundred bytes; a longer body is refused unread (as a body that
  // cannot be decoded), so a broken or hostile server cannot exhaust memory.
  static constexpr std::int64_t kMaximumManifestLength = 1024 * 1024;
  static constexpr const char* kOperationName = "request(endpoint:method:headers:)";

  // Every request gets a handler from `makeRetryHandler`: RetryHandler::make in production,
  // handlers with short delays in tests.
  explicit NetworkService(std::shared_ptr<http::Session> session,
                          RetryHandlerFactory makeRetryHandler = &RetryHandler::make);

  // GETs (or `method`s) origin + "/" + endpoint, or the manifest endpoint with the extra
  // parameter os=macos when there is no endpoint, and decodes the body. Throws the HTTP
  // layer's HTTPError unchanged (as platform::ForwardedError).
  LoaderModel request(const std::optional<std::string>& endpoint,
                      const http::HTTPMethod& method = http::HTTPMethod::get,
                      const std::optional<http::HTTPHeaders>& headers = std::nullopt);

  // The manifest request of the installer: no endpoint, GET, no headers.
  LoaderModel fetchManifest() override;

 private:
  const std::shared_ptr<http::Session> session_;
  RetryHandlerFactory makeRetryHandler_;
};

}  // namespace tolvane
