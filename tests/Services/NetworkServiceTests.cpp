#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

#include "HTTP/Core/HTTPHeaders.h"
#include "Installer/LoaderModel.h"
#include "Platform/URLError.h"
#include "Services/NetworkService.h"
#include "Services/ServicesTestSupport.h"

namespace tolvane::test {
namespace {

using http::HTTPError;

constexpr const char* kManifest =
    R"({"files":[{"path":"files/Tolvane.jar","hash":"abc123","size":4096},)"
    R"({"path":"files/other.jar","hash":"def","size":1}]})";

class NetworkServiceTest : public ServiceFixture {
 protected:
  NetworkService service_{&shortRetryHandler};

  // fetchManifest() off the main queue; the manifest, or the error it threw.
  std::pair<std::optional<LoaderModel>, platform::ErrorPtr> fetch(NetworkService& service) {
    std::optional<LoaderModel> manifest;
    auto error = callOffMainQueue([&] { manifest = service.fetchManifest(); });
    return {std::move(manifest), std::move(error)};
  }
  std::pair<std::optional<LoaderModel>, platform::ErrorPtr> fetch() { return fetch(service_); }
};

TEST_F(NetworkServiceTest, ManifestRequestCarriesTheDoubledQueryAndTheDefaultHeaders) {
  server_.serveBody("/loaderv3.php", kManifest, "application/json");

  const auto [manifest, error] = fetch();

  ASSERT_EQ(error, nullptr) << error->localizedDescription();
  ASSERT_TRUE(manifest);
  ASSERT_EQ(manifest->files.size(), 2u);
  EXPECT_EQ(manifest->files[0].path, "files/Tolvane.jar");
  EXPECT_EQ(manifest->files[0].hash, "abc123");
  EXPECT_EQ(manifest->files[0].size, 4096);
  EXPECT_EQ(manifest->files[1].path, "files/other.jar");

  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& seen = requests[0];
  EXPECT_EQ(seen.method, "GET");
  EXPECT_EQ(seen.path, "/loaderv3.php");
  EXPECT_EQ(seen.query, "os=macos&os=macos");
  EXPECT_EQ(seen.header("Accept-Encoding"), "br;q=1.0, gzip;q=0.9, deflate;q=0.8");
  // From LANGUAGE as the fixture set it before the layer first computed its defaults.
  EXPECT_EQ(seen.header("Accept-Language"), "ru-RU;q=1.0, en-US;q=0.9");
  const auto userAgent = http::HTTPHeaders::defaultHeaders().value("User-Agent");
  ASSERT_TRUE(userAgent);
  EXPECT_EQ(seen.header("User-Agent"), userAgent);
  EXPECT_TRUE(userAgent->ends_with(" TolvaneHTTP/1.0.0")) << *userAgent;
}

TEST_F(NetworkServiceTest, EndpointGoesBelowTheOriginWithoutQueryAndWithTheGivenHeaders) {
  server_.serveBody("/x", R"({"files":[]})", "text/plain");
  std::optional<LoaderModel> manifest;

  const auto error = callOffMainQueue([&] {
    manifest = service_.request("x", http::HTTPMethod::get, http::HTTPHeaders{{"X-Probe", "1"}});
  });

  ASSERT_EQ(error, nullptr) << error->localizedDescription();
  ASSERT_TRUE(manifest);
  EXPECT_TRUE(manifest->files.empty());
  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].path, "/x");
  EXPECT_EQ(requests[0].query, "");
  EXPECT_EQ(requests[0].header("X-Probe"), "1");
}

TEST_F(NetworkServiceTest, ServerDownFailsWithTheRetryFailureWrappedTwice) {
  pointOriginAt("https://127.0.0.1:" + std::to_string(LoopbackServer::refusedPort()));

  const auto [manifest, error] = fetch();

  ASSERT_FALSE(manifest);
  ASSERT_NE(error, nullptr);
  const HTTPError& outer = asHTTPError(error);
  ASSERT_TRUE(outer.isRequestRetryError());
  const HTTPError& inner = asHTTPError(outer.originalError());
  ASSERT_TRUE(inner.isRequestRetryError());
  EXPECT_EQ(asResourceError(outer.underlyingError()).code(), ResourceError::Code::timeoutRequest);
  EXPECT_EQ(asResourceError(outer.underlyingError()).cause()->localizedDescription(),
            outer.originalError()->localizedDescription());
  const HTTPError& transport = asHTTPError(inner.originalError());
  ASSERT_TRUE(transport.isSessionTaskError());

  const std::string expected =
      kCheckFailedPrefix + "Request retry failed with retry error: " + kGaveUp +
      ", original error: Request retry failed with retry error: " + kGaveUp +
      ", original error: URLSessionTask failed with error: Could not connect to the server.";
  EXPECT_EQ(ResourceError::failedDownloadLoaderModel(error).message(), expected);
}

TEST_F(NetworkServiceTest, TransportFailureIsAttemptedFourTimesInAll) {
  server_.shortBody("/loaderv3.php", 1000, "{\"fi");

  const auto [manifest, error] = fetch();

  ASSERT_NE(error, nullptr);
  EXPECT_EQ(server_.requestCount(), 4u);
  const HTTPError& outer = asHTTPError(error);
  ASSERT_TRUE(outer.isRequestRetryError());
  EXPECT_TRUE(asHTTPError(asHTTPError(outer.originalError()).originalError()).isSessionTaskError());
}

TEST_F(NetworkServiceTest, UnacceptableStatusIsRetriedAndReportedLikeATransportFailure) {
  server_.get("/loaderv3.php", [](const httplib::Request&, httplib::Response& response) {
    response.status = 404;
    response.set_content(R"({"files":[]})", "application/json");
  });

  const auto [manifest, error] = fetch();

  ASSERT_FALSE(manifest);
  EXPECT_EQ(server_.requestCount(), 4u);
  EXPECT_EQ(ResourceError::failedDownloadLoaderModel(error).message(),
            kCheckFailedPrefix +
                retryFailedText(retryFailedText("Response status code was unacceptable: 404.")));
}

TEST_F(NetworkServiceTest, UndecodableManifestFailsWrappedOnceAfterFourAttempts) {
  server_.serveBody("/loaderv3.php", R"({"files":[{"path":"a.jar","hash":"h"}]})",
                    "application/json");

  const auto [manifest, error] = fetch();

  ASSERT_FALSE(manifest);
  EXPECT_EQ(server_.requestCount(), 4u);
  const HTTPError& outer = asHTTPError(error);
  ASSERT_TRUE(outer.isRequestRetryError());
  const HTTPError& decoding = asHTTPError(outer.originalError());
  ASSERT_TRUE(decoding.isResponseSerializationError());
  ASSERT_NE(decoding.underlyingError(), nullptr);
  EXPECT_EQ(
      ResourceError::failedDownloadLoaderModel(error).message(),
      kCheckFailedPrefix + retryFailedText("Response could not be decoded because of error:\n" +
                                           decoding.underlyingError()->localizedDescription()));
}

TEST_F(NetworkServiceTest, AddressThatIsNoURLIsStillTriedFourTimes) {
  pointOriginAt("https://[not a host");

  const auto [manifest, error] = fetch();

  const HTTPError& outer = asHTTPError(error);
  ASSERT_TRUE(outer.isRequestRetryError());
  EXPECT_TRUE(asHTTPError(asHTTPError(outer.originalError()).originalError()).isInvalidURLError());
}

TEST_F(NetworkServiceTest, FailureFollowedBySuccessReturnsTheManifest) {
  std::atomic<int> calls{0};
  server_.get("/loaderv3.php", [&](const httplib::Request&, httplib::Response& response) {
    if (calls++ < 2) {
      response.status = 500;
      response.set_content("busy", "text/plain");
      return;
    }
    response.set_content(kManifest, "application/json");
  });

  const auto [manifest, error] = fetch();

  ASSERT_EQ(error, nullptr) << error->localizedDescription();
  ASSERT_TRUE(manifest);
  EXPECT_EQ(manifest->files.size(), 2u);
  EXPECT_EQ(server_.requestCount(), 3u);
}

// The two tests below wait out the program's real delays.

TEST_F(NetworkServiceTest, ProductionHandlerWaitsFiveSecondsBeforeRetrying) {
  std::mutex mutex;
  std::vector<std::chrono::steady_clock::time_point> arrivals;
  server_.get("/loaderv3.php", [&](const httplib::Request&, httplib::Response& response) {
    std::lock_guard lock(mutex);
    arrivals.push_back(std::chrono::steady_clock::now());
    if (arrivals.size() == 1) {
      response.status = 503;
      return;
    }
    response.set_content(kManifest, "application/json");
  });
  NetworkService production;

  const auto [manifest, error] = fetch(production);

  ASSERT_EQ(error, nullptr) << error->localizedDescription();
  std::lock_guard lock(mutex);
  ASSERT_EQ(arrivals.size(), 2u);
  EXPECT_GE(arrivals[1] - arrivals[0], std::chrono::milliseconds(5000));
}

TEST_F(NetworkServiceTest, EachAttemptTimesOutAfterFiveSeconds) {
  server_.delayHeaders("/loaderv3.php", 30s, kManifest);
  NetworkService oneAttempt([] { return std::make_shared<RetryHandler>(0, 0.0); });
  const auto start = std::chrono::steady_clock::now();

  const auto [manifest, error] = fetch(oneAttempt);

  const auto elapsed = std::chrono::steady_clock::now() - start;
  const HTTPError& outer = asHTTPError(error);
  const HTTPError& transport = asHTTPError(asHTTPError(outer.originalError()).originalError());
  ASSERT_TRUE(transport.isSessionTaskError());
  const auto* urlError = dynamic_cast<const platform::URLError*>(transport.underlyingError().get());
  ASSERT_NE(urlError, nullptr);
  EXPECT_EQ(urlError->code(), platform::URLError::timedOut);
  // Well below the layer's 60-second default.
  EXPECT_GE(elapsed, std::chrono::milliseconds(4500));
  EXPECT_LT(elapsed, std::chrono::seconds(15));
}

using NetworkServiceDeathTest = NetworkServiceTest;

TEST_F(NetworkServiceDeathTest, BlockingOnTheMainQueueStopsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  server_.serveBody("/loaderv3.php", kManifest, "application/json");
  EXPECT_DEATH(
      {
        platform::DispatchQueue::main()->async([this] { (void)service_.fetchManifest(); });
        platform::MainRunLoop::runUntil([] { return false; }, 2s);
      },
      "request\\(endpoint:method:headers:\\) must not block the main queue");
}

}  // namespace
}  // namespace tolvane::test
