#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <ostream>
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
 public:
  using ServiceFixture::pointOriginAt;
  using ServiceFixture::server_;

 protected:
  NetworkService service_{session(), &shortRetryHandler};

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
  EXPECT_EQ(manifest->files[0], (FileModel{"files/Tolvane.jar", "abc123", 4096}));
  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& seen = requests[0];
  EXPECT_EQ(seen.method, "GET");
  EXPECT_EQ(seen.path, "/loaderv3.php");
  EXPECT_EQ(seen.query, "os=macos&os=macos");
  // From LANGUAGE as the fixture set it before the layer first computed its defaults.
  EXPECT_EQ(seen.header("Accept-Language"), "ru-RU;q=1.0, en-US;q=0.9");
  EXPECT_EQ(seen.header("User-Agent"), http::HTTPHeaders::defaultHeaders().value("User-Agent"));
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

// Each way the manifest request fails: how many attempts reach the server, what the last one
// failed with, and whether the layer wraps the retry failure once more (everything but a
// decoding failure is failed again by the retrier after the handler gave up).
struct FetchFault {
  const char* name;
  std::function<void(NetworkServiceTest&)> script;
  std::size_t attempts;
  bool (HTTPError::*lastFailure)() const;
  bool wrappedTwice;
  std::string message;  // after the catalogue's prefix and the retry wrapping
  friend void PrintTo(const FetchFault& fault, std::ostream* out) { *out << fault.name; }
};

class FetchFaultTest : public NetworkServiceTest,
                       public ::testing::WithParamInterface<FetchFault> {};

TEST_P(FetchFaultTest, IsAttemptedWrappedAndWordedAsTheRowSays) {
  GetParam().script(*this);

  const auto [manifest, error] = fetch();

  ASSERT_FALSE(manifest);
  EXPECT_EQ(server_.requestCount(), GetParam().attempts);
  const HTTPError& outer = asHTTPError(error);
  ASSERT_TRUE(outer.isRequestRetryError());
  EXPECT_EQ(asResourceError(outer.underlyingError()).code(), ResourceError::Code::timeoutRequest);
  EXPECT_EQ(asResourceError(outer.underlyingError()).cause()->localizedDescription(),
            outer.originalError()->localizedDescription());
  const HTTPError* last = &asHTTPError(outer.originalError());
  ASSERT_EQ(last->isRequestRetryError(), GetParam().wrappedTwice);
  if (GetParam().wrappedTwice) last = &asHTTPError(last->originalError());
  EXPECT_TRUE((last->*GetParam().lastFailure)()) << last->localizedDescription();
  if (GetParam().message.empty()) return;
  const std::string once = retryFailedText(GetParam().message);
  EXPECT_EQ(ResourceError::failedDownloadLoaderModel(error).message(),
            kCheckFailedPrefix + (GetParam().wrappedTwice ? retryFailedText(once) : once));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FetchFaultTest,
    ::testing::Values(
        FetchFault{"ServerDown",
                   [](NetworkServiceTest& t) {
                     t.pointOriginAt("https://127.0.0.1:" +
                                     std::to_string(LoopbackServer::refusedPort()));
                   },
                   0, &HTTPError::isSessionTaskError, true,
                   "URLSessionTask failed with error: Could not connect to the server."},
        FetchFault{
            "CutShort",
            [](NetworkServiceTest& t) { t.server_.shortBody("/loaderv3.php", 1000, "{\"fi"); }, 4,
            &HTTPError::isSessionTaskError, true,
            "URLSessionTask failed with error: The network connection was lost."},
        FetchFault{"NotFound",
                   [](NetworkServiceTest& t) {
                     t.server_.get("/loaderv3.php",
                                   [](const httplib::Request&, httplib::Response& response) {
                                     response.status = 404;
                                     response.set_content(R"({"files":[]})", "application/json");
                                   });
                   },
                   4, &HTTPError::isResponseValidationError, true,
                   "Response status code was unacceptable: 404."},
        FetchFault{"Undecodable",
                   [](NetworkServiceTest& t) {
                     t.server_.serveBody("/loaderv3.php",
                                         R"({"files":[{"path":"a.jar","hash":"h"}]})",
                                         "application/json");
                   },
                   4, &HTTPError::isResponseSerializationError, false,
                   "Response could not be decoded because of error:\nThe data couldn\u2019t be "
                   "read because it is missing."},
        FetchFault{"NoURL", [](NetworkServiceTest& t) { t.pointOriginAt("https://[not a host"); },
                   0, &HTTPError::isInvalidURLError, true, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// The one test of the whole suite that waits out the program's real retry delay; the
// manifest of the second attempt is returned.
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
  NetworkService production{session()};

  const auto [manifest, error] = fetch(production);

  ASSERT_EQ(error, nullptr) << error->localizedDescription();
  EXPECT_EQ(manifest->files.size(), 2u);
  std::lock_guard lock(mutex);
  ASSERT_EQ(arrivals.size(), 2u);
  EXPECT_GE(arrivals[1] - arrivals[0], std::chrono::milliseconds(5000));
}

// Through the test seam: the manifest request sets its own time-out instead of the layer's
// 60-second default.
TEST_F(NetworkServiceTest, EachAttemptTimesOut) {
  home_->setEnvironment(RetryHandler::kRequestTimeoutVariable, "0.3");
  server_.delayHeaders("/loaderv3.php", 30s, kManifest);
  NetworkService oneAttempt(session(), [] { return std::make_shared<RetryHandler>(0, 0.0); });

  const auto [manifest, error] = fetch(oneAttempt);

  const HTTPError& outer = asHTTPError(error);
  const HTTPError& transport = asHTTPError(asHTTPError(outer.originalError()).originalError());
  ASSERT_TRUE(transport.isSessionTaskError());
  const auto* urlError = dynamic_cast<const platform::URLError*>(transport.underlyingError().get());
  ASSERT_NE(urlError, nullptr);
  EXPECT_EQ(urlError->code(), platform::URLError::timedOut);
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
      "request\\(endpoint:method:headers:\\) must not block queue \"main\"");
}

}  // namespace
}  // namespace tolvane::test
