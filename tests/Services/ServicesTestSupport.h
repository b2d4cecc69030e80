#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "HTTP/Core/HTTPError.h"
#include "HTTP/Core/Session.h"
#include "Installer/ResourceError.h"
#include "Installer/WorkFolder.h"
#include "Platform/DispatchQueue.h"
#include "Platform/ErrorException.h"
#include "Services/RetryHandler.h"
#include "Support/LoopbackServer.h"
#include "Support/TemporaryDirectory.h"
#include "Support/TemporaryHome.h"
#include "Support/TestCertificate.h"

namespace tolvane::test {

using namespace std::chrono_literals;

// Retry delay of the handlers the services tests use: long enough to be a real pause,
// short enough that four attempts stay well under a second.
inline constexpr double kShortRetryDelay = 0.01;

inline std::shared_ptr<RetryHandler> shortRetryHandler() {
  return std::make_shared<RetryHandler>(RetryHandler::kRetryLimit, kShortRetryDelay);
}

// Runs `call` on a worker thread, as the installer's run does, while this thread drives the
// main queue on which the services' completions arrive. Returns the call's error, or null
// when it returned normally.
template <typename Call>
platform::ErrorPtr callOffMainQueue(Call call, std::chrono::milliseconds timeout = 60s) {
  auto future =
      std::async(std::launch::async, [call = std::move(call)]() mutable -> platform::ErrorPtr {
        try {
          call();
          return nullptr;
        } catch (const platform::ErrorException& error) {
          return error.error();
        }
      });
  const auto ready = [&] { return future.wait_for(0s) == std::future_status::ready; };
  if (!platform::MainRunLoop::runUntil(ready, timeout)) {
    ADD_FAILURE() << "the call did not finish in time";
    while (!platform::MainRunLoop::runUntil(ready, 1s)) {
    }
  }
  return future.get();
}

// A fresh home, a work folder outside it (the services must take the folder they are given),
// and an HTTPS loopback server that the program's origin points at.
class ServiceFixture : public ::testing::Test {
 protected:
  // Before any service is made: the default session reads the trusted CA file once, when it
  // is first used, and likewise computes the default Accept-Language from the environment.
  ServiceFixture() {
    ::setenv("TOLVANE_CA_FILE", TestCertificate::shared().caFile().c_str(), 1);
    ::setenv("LANGUAGE", "ru_RU:en_US", 1);
  }

  void SetUp() override {
    // One request per connection: a kept-alive connection would hold the server's
    // shutdown for its whole idle time-out.
    server_.server().set_keep_alive_max_count(1);
    home_.emplace();
    home_->setEnvironment("TOLVANE_UPDATE_ORIGIN", server_.url(""));
    home_->setEnvironment(RetryHandler::kRetryDelayVariable, std::nullopt);
  }
  void TearDown() override { home_.reset(); }

  void pointOriginAt(const std::string& origin) {
    home_->setEnvironment("TOLVANE_UPDATE_ORIGIN", origin);
  }

  [[nodiscard]] static const std::shared_ptr<http::Session>& session() {
    return http::Session::defaultSession();
  }
  [[nodiscard]] const std::filesystem::path& workFolder() const { return folder_.root(); }
  [[nodiscard]] std::filesystem::path jar() const { return folder_.launcherJar(); }

  LoopbackServer server_;
  std::optional<TemporaryHome> home_;
  TemporaryDirectory playerHome_;
  const WorkFolder folder_{playerHome_.path()};
};

inline const http::HTTPError& asHTTPError(const platform::ErrorPtr& error) {
  const auto* http = dynamic_cast<const http::HTTPError*>(error.get());
  if (http == nullptr)
    throw std::runtime_error("not an HTTPError: " + (error ? error->debugDescription() : "null"));
  return *http;
}

inline const ResourceError& asResourceError(const platform::ErrorPtr& error) {
  const auto* resource = dynamic_cast<const ResourceError*>(error.get());
  if (resource == nullptr) {
    throw std::runtime_error("not a ResourceError: " +
                             (error ? error->debugDescription() : "null"));
  }
  return *resource;
}

// The retry error the program's handler gives up with renders as the platform's generic
// text for ResourceError code 5 (timeoutRequest).
inline const std::string kGaveUp =
    "The operation couldn\u2019t be completed. (Tolvane_Apple_Silicon.ResourceError error 5.)";
// The same on a Russian desktop.
inline const std::string kGaveUpInRussian =
    "Не удалось завершить операцию. (Tolvane_Apple_Silicon.ResourceError, ошибка 5.)";
inline const std::string kCheckFailedPrefix =
    "Не удалось проверить наличие новой версии лаунчера:\n\n";

// "Request retry failed with retry error: <gave up>, original error: <original>".
inline std::string retryFailedText(const std::string& original,
                                   const std::string& gaveUp = kGaveUp) {
  return "Request retry failed with retry error: " + gaveUp + ", original error: " + original;
}

}  // namespace tolvane::test
