#include "HTTP/Core/DownloadRequest.h"

#include <gtest/gtest.h>

#include <ostream>

#include <atomic>
#include <cstdint>
#include <iterator>
#include <string>

#include "HTTP/Core/RequestConvertible.h"
#include "HTTP/Core/SessionTestSupport.h"
#include "HTTP/Core/URLEncoding.h"
#include "HTTP/Response/ResponseHandlers.h"
#include "HTTP/Response/Validation.h"
#include "HTTP/Retry/Retrier.h"
#include "Support/FlakyFile.h"
#include "Support/TemporaryHome.h"

namespace tolvane::test {
namespace {

using http::DownloadRequest;
using http::DownloadResponse;
using http::HTTPError;
using Options = DownloadRequest::Options;
using platform::URL;
using PlainResponse = DownloadResponse<std::optional<URL>>;

DownloadRequest::Destination fixedDestination(const std::filesystem::path& path, Options options) {
  return [path, options](const URL&, const platform::HTTPURLResponse&) {
    return std::pair{URL::fileURL(path), options};
  };
}

class DownloadRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFile(source_, body_);
    server_.serveFile("/file.bin", source_, "\"v1\"");
    server_.serveFile("/slow.bin", source_, "\"v1\"", std::chrono::milliseconds(15));
  }

  PlainResponse download(const std::string& path, DownloadRequest::Destination destination) {
    return await(session_->download(server_.url(path), http::HTTPMethod::get, std::nullopt, nullptr,
                                    std::nullopt, nullptr, nullptr, std::move(destination)));
  }

  // The response the plain handler delivers.
  static PlainResponse await(const std::shared_ptr<DownloadRequest>& request) {
    Delivered<PlainResponse> delivered;
    http::response(request, delivered.queue(), delivered.handler());
    return delivered.wait();
  }

  // Starts a slow download, cancels it producing resume data once some bytes have arrived,
  // and returns that data after checking the request kept it.
  platform::Data cancelHalfway(const std::string& path) {
    auto request = session_->download(server_.url(path));
    auto started = std::make_shared<std::atomic<bool>>(false);
    request->downloadProgress(progressQueue_, [started](const http::Request::Progress& progress) {
      if (progress.completedUnitCount() >= 128 * 1024) *started = true;
    });
    Delivered<PlainResponse> delivered;
    http::response(request, delivered.queue(), delivered.handler());
    EXPECT_TRUE(waitUntil([&] { return started->load(); }));

    auto handed = std::make_shared<platform::Protected<std::optional<platform::Data>>>();
    auto storedWhenHanded = std::make_shared<std::atomic<bool>>(false);
    auto done = std::make_shared<std::atomic<bool>>(false);
    request->cancelByProducingResumeData([=](std::optional<platform::Data> data) {
      *storedWhenHanded = request->resumeData() == data;
      handed->set(std::move(data));
      *done = true;
    });
    EXPECT_TRUE(waitUntil([&] { return done->load(); }));
    EXPECT_TRUE(storedWhenHanded->load());
    const auto cancelled = delivered.wait();
    EXPECT_TRUE(cancelled.error() && cancelled.error()->isExplicitlyCancelledError());
    return handed->get().value_or("");
  }

  const std::string body_ = patternBytes(2 * 1024 * 1024);
  TemporaryDirectory folder_;
  const std::filesystem::path source_ = folder_.path() / "source.bin";
  LoopbackServer server_;
  std::shared_ptr<http::Session> session_ = makeTrustingSession();
  std::shared_ptr<platform::DispatchQueue> progressQueue_ =
      platform::DispatchQueue::make("test.progress");
};

struct PlacementCase {
  const char* name;
  bool existingFile;  // else: the destination's folder chain is missing
  int options;
  bool succeeds;
  // Test listings show the case by its name.
  friend void PrintTo(const PlacementCase& c, std::ostream* os) { *os << c.name; }
};

class FilePlacement : public DownloadRequestTest,
                      public ::testing::WithParamInterface<PlacementCase> {};

TEST_P(FilePlacement, OptionsDecideWhetherTheMoveSucceeds) {
  const auto& param = GetParam();
  const auto destination = param.existingFile ? folder_.path() / "Tolvane.jar"
                                              : folder_.path() / "a" / "b" / "c" / "Tolvane.jar";
  if (param.existingFile) writeFile(destination, "old launcher");

  const auto response =
      download("/file.bin", fixedDestination(destination, Options(param.options)));

  if (param.succeeds) {
    ASSERT_TRUE(response.result.isSuccess()) << response.description();
    EXPECT_EQ(response.value(), std::optional<URL>(URL::fileURL(destination)));
    EXPECT_EQ(response.fileURL, URL::fileURL(destination));
    EXPECT_EQ(readFile(destination), body_);
  } else {
    ASSERT_TRUE(response.error());
    ASSERT_TRUE(response.error()->isDownloadedFileMoveError())
        << response.error()->localizedDescription();
    EXPECT_EQ(response.error()->destinationURL(), URL::fileURL(destination));
    EXPECT_TRUE(response.error()->localizedDescription().starts_with(
        "Moving downloaded file from: file://"));
    EXPECT_FALSE(response.fileURL);
    if (param.existingFile) {
      EXPECT_EQ(readFile(destination), "old launcher");
    } else {
      EXPECT_FALSE(std::filesystem::exists(destination));
    }
  }
  // No staging copy is left beside the destination (the existing-file folder also holds
  // source.bin).
  if (std::filesystem::exists(destination.parent_path())) {
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(destination.parent_path()), {}),
              param.existingFile ? 2 : 1);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryOptionCombination, FilePlacement,
                         ::testing::Values(PlacementCase{"ExistingNone", true, 0, false},
                                           PlacementCase{"ExistingCreate", true, 1, false},
                                           PlacementCase{"ExistingRemove", true, 2, true},
                                           PlacementCase{"ExistingBoth", true, 3, true},
                                           PlacementCase{"MissingNone", false, 0, false},
                                           PlacementCase{"MissingCreate", false, 1, true},
                                           PlacementCase{"MissingRemove", false, 2, false},
                                           PlacementCase{"MissingBoth", false, 3, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DownloadRequestTest, WithoutADestinationTheFileStaysNextToTheTemporaryFile) {
  const auto response = download("/file.bin", nullptr);
  ASSERT_TRUE(response.result.isSuccess()) << response.description();
  ASSERT_TRUE(response.fileURL);
  const auto placed = response.fileURL->filePath();
  EXPECT_TRUE(placed.filename().string().starts_with("TolvaneHTTP_")) << placed;
  EXPECT_GT(placed.filename().string().size(), std::string("TolvaneHTTP_").size());
  EXPECT_EQ(readFile(placed), body_);
  std::filesystem::remove(placed);
}

TEST_F(DownloadRequestTest, CancelledWithResumeDataThenResumedFromTheRangeAnswer) {
  const auto resumeData = cancelHalfway("/slow.bin");
  ASSERT_FALSE(resumeData.empty());
  const auto destination = folder_.path() / "resumed.bin";

  auto resumed =
      session_->downloadResumingWith(resumeData, nullptr, fixedDestination(destination, {}));
  const auto response = await(resumed);
  ASSERT_TRUE(response.result.isSuccess()) << response.description();
  EXPECT_EQ(readFile(destination), body_);
  // Only the rest was asked for.
  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_TRUE(requests[1].header("Range").has_value());
}

TEST_F(DownloadRequestTest, ProgressTotalsAreKnownOrUnknown) {
  server_.servePieces("/chunked.bin", body_.size(), false, 256 * 1024);
  const auto size = static_cast<std::int64_t>(body_.size());
  for (const auto& [path, total] :
       {std::pair{std::string("/file.bin"), size},
        std::pair{std::string("/chunked.bin"), platform::kTransferSizeUnknown}}) {
    auto request = session_->download(server_.url(path));
    const auto response = await(request);
    ASSERT_TRUE(response.result.isSuccess()) << path;
    EXPECT_EQ(request->downloadProgress()->totalUnitCount(), total) << path;
    EXPECT_EQ(request->downloadProgress()->completedUnitCount(), size) << path;
    std::filesystem::remove(response.fileURL->filePath());
  }
}

TEST_F(DownloadRequestTest, ABodyOverFourGiBIsCountedIn64Bits) {
  constexpr std::int64_t kAnnounced = (std::int64_t{5} << 30) + 3;
  server_.get("/huge.bin", [this](const httplib::Request&, httplib::Response& response) {
    response.set_content_provider(static_cast<std::size_t>(kAnnounced), "application/octet-stream",
                                  [this](std::size_t, std::size_t, httplib::DataSink& sink) {
                                    sink.write(body_.data(), 64 * 1024);
                                    return server_.pause(std::chrono::milliseconds(5));
                                  });
  });
  auto request = session_->download(server_.url("/huge.bin"));
  auto seen = std::make_shared<std::atomic<std::int64_t>>(0);
  request->downloadProgress(progressQueue_, [seen](const http::Request::Progress& progress) {
    *seen = progress.totalUnitCount();
  });
  Delivered<PlainResponse> delivered;
  http::response(request, delivered.queue(), delivered.handler());
  ASSERT_TRUE(waitUntil([&] { return seen->load() != 0; }));
  request->cancel();
  const auto response = delivered.wait();
  EXPECT_EQ(seen->load(), kAnnounced);
  EXPECT_EQ(request->downloadProgress()->totalUnitCount(), kAnnounced);
  EXPECT_GT(request->downloadProgress()->completedUnitCount(), 0);
  EXPECT_LT(request->downloadProgress()->completedUnitCount(), kAnnounced);
  EXPECT_TRUE(response.error() && response.error()->isExplicitlyCancelledError());
}

TEST_F(DownloadRequestTest, ARetriedDownloadStartsClean) {
  std::atomic<int> attempts{0};
  server_.get("/second-time.bin", [&](const httplib::Request&, httplib::Response& response) {
    if (attempts++ == 0) response.status = 503;
    response.set_content(attempts == 1 ? "unavailable" : body_, "application/octet-stream");
  });
  auto sawBeforeRetry = std::make_shared<platform::Protected<std::optional<URL>>>();
  auto retrier = std::make_shared<http::Retrier>(
      [sawBeforeRetry](const auto& request, const auto&, const HTTPError&, auto completion) {
        sawBeforeRetry->set(std::static_pointer_cast<DownloadRequest>(request)->fileURL());
        completion(request->retryCount() == 0 ? http::RetryResult::retry()
                                              : http::RetryResult::doNotRetry());
      });
  const auto destination = folder_.path() / "retried.bin";
  auto request = session_->download(server_.url("/second-time.bin"), http::HTTPMethod::get,
                                    std::nullopt, nullptr, std::nullopt, retrier, nullptr,
                                    fixedDestination(destination, {Options::removePreviousFile}));
  const auto response = await(http::validate(request));
  ASSERT_TRUE(response.result.isSuccess()) << response.description();
  // The failed attempt had placed its file; the retry cleared that before starting again.
  EXPECT_EQ(sawBeforeRetry->get(), URL::fileURL(destination));
  EXPECT_EQ(readFile(destination), body_);
  EXPECT_EQ(request->retryCount(), 1);
}

// The first response breaks off at 40 %: the retry continues the partial file only when the
// request asks for it.
class RetryContinuation : public DownloadRequestTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RetryContinuation, ContinuesThePartialFileOnlyWhenAsked) {
  FlakyFile::serve(server_, "/flaky.bin", {body_, "\"v1\"", ""},
                   FlakyFile::Behaviour{.dropLimit = 1});
  auto retrier = std::make_shared<http::Retrier>(
      [](const auto& request, const auto&, const HTTPError&, auto completion) {
        completion(request->retryCount() == 0 ? http::RetryResult::retry()
                                              : http::RetryResult::doNotRetry());
      });
  const auto destination = folder_.path() / "continued.bin";
  auto request = DownloadRequest::make(
      DownloadRequest::Downloadable::request(std::make_shared<const http::RequestConvertible>(
          server_.url("/flaky.bin"), http::HTTPMethod::get, std::nullopt,
          std::make_shared<const http::URLEncoding>(), std::nullopt, nullptr)),
      fixedDestination(destination, {}), session_->requestContext(retrier));
  request->setRetriesContinueFromResumeData(GetParam());
  session_->perform(request);
  Delivered<PlainResponse> delivered;
  http::response(request, delivered.queue(), delivered.handler());

  const auto response = delivered.wait();

  ASSERT_TRUE(response.result.isSuccess()) << response.description();
  EXPECT_EQ(readFile(destination), body_);
  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].header("Range").has_value(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Retries, RetryContinuation, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Continues" : "StartsOver"; });

// A failed attempt's partial file (kept because the server sent validators) lives only while
// resume data naming it can still be reached: not past a retry, nor past a final error that
// replaces the attempt's own; a final error that carries it leaves it to the caller.
struct PartialFileCase {
  const char* name;
  bool giveUpWithOwnError;
  std::size_t partialsLeft;
  // Test listings show the case by its name.
  friend void PrintTo(const PartialFileCase& c, std::ostream* os) { *os << c.name; }
};

class PartialFileTest : public DownloadRequestTest,
                        public ::testing::WithParamInterface<PartialFileCase> {};

TEST_P(PartialFileTest, SurvivesOnlyWhileItsResumeDataIsReachable) {
  TemporaryDirectory temporary;
  TemporaryHome environment;
  environment.setEnvironment("TMPDIR", temporary.path().string());
  server_.shortBody("/cut.bin", 100'000, patternBytes(10'000),
                    {{"ETag", "\"v1\""}, {"Last-Modified", "Mon, 07 Dec 2026 10:00:00 GMT"}});
  const bool giveUpWithOwnError = GetParam().giveUpWithOwnError;
  auto retrier = std::make_shared<http::Retrier>(
      [giveUpWithOwnError](const auto& request, const auto&, const HTTPError&, auto completion) {
        if (request->retryCount() == 0) return completion(http::RetryResult::retry());
        completion(giveUpWithOwnError ? http::RetryResult::doNotRetryWithError(
                                            platform::makeError(PlainError("gave up")))
                                      : http::RetryResult::doNotRetry());
      });
  auto request = session_->download(server_.url("/cut.bin"), http::HTTPMethod::get, std::nullopt,
                                    nullptr, std::nullopt, retrier);
  const auto response = await(request);
  ASSERT_FALSE(response.result.isSuccess());
  EXPECT_EQ(request->retryCount(), 1);
  std::vector<std::filesystem::path> left;
  for (const auto& entry : std::filesystem::directory_iterator(temporary.path()))
    left.push_back(entry.path());
  EXPECT_EQ(left.size(), GetParam().partialsLeft);
  EXPECT_EQ(response.resumeData.has_value(), GetParam().partialsLeft == 1);
}

INSTANTIATE_TEST_SUITE_P(
    Endings, PartialFileTest,
    ::testing::Values(PartialFileCase{"FinalErrorReplacesTheAttempts", true, 0},
                      PartialFileCase{"FinalErrorCarriesTheResumeData", false, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SuggestedDestinationTest, KeepsOnlyAPlainFileName) {
  TemporaryHome home;
  const auto destination = DownloadRequest::suggestedDownloadDestination();
  platform::HTTPURLResponse response{*URL::parse("https://127.0.0.1/x"),
                                     200,
                                     {},
                                     1,
                                     std::nullopt,
                                     std::nullopt,
                                     "../../etc/evil.jar"};
  const auto [url, options] = destination(URL::fileURL("/tmp/t"), response);
  EXPECT_EQ(url, URL::fileURL(home.home() / "Documents" / "evil.jar"));
  EXPECT_EQ(options, Options());
  response.suggestedFilename = "..";
  EXPECT_EQ(destination(URL::fileURL("/tmp/t"), response).first,
            URL::fileURL(home.home() / "Documents" / "Unknown"));
}

}  // namespace
}  // namespace tolvane::test
