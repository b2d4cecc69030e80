#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <iterator>
#include <string>

#include "HTTP/Core/SessionTestSupport.h"
#include "HTTP/Response/Empty.h"
#include "HTTP/Response/ResponseHandlers.h"
#include "HTTP/Response/Validation.h"
#include "HTTP/Retry/Retrier.h"
#include "Platform/DecodingError.h"

namespace tolvane::test {
namespace {

using http::DataResponse;
using http::HTTPError;
using http::HTTPHeaders;
using http::HTTPMethod;
using platform::Data;
using ValidationKind = HTTPError::ResponseValidationFailureReason::Kind;

struct Manifest {
  std::int64_t size = 0;
  static Manifest fromJSON(const nlohmann::json& json) {
    if (!json.is_object() || !json.contains("size") || !json["size"].is_number_integer()) {
      throw platform::DecodingError(platform::DecodingError::Kind::typeMismatch,
                                    "Expected an integer for key \"size\"");
    }
    return {json["size"].get<std::int64_t>()};
  }
};

class ResponseHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.serveBody("/json", R"({"size": 7})", "application/json");
    server_.serveBody("/html", "<p>hi</p>", "text/html");
    server_.get("/error-page", [](const httplib::Request&, httplib::Response& response) {
      response.status = 500;
      response.set_content("<h1>down</h1>", "text/html");
    });
  }

  std::shared_ptr<http::DataRequest> get(
      const std::string& path, std::optional<std::string> accept = std::nullopt,
      std::shared_ptr<http::RequestInterceptor> interceptor = nullptr,
      HTTPMethod method = HTTPMethod::get) {
    std::optional<HTTPHeaders> headers;
    if (accept) headers = HTTPHeaders{{"Accept", *accept}};
    return session_->request(server_.url(path), method, std::nullopt, nullptr, headers,
                             std::move(interceptor));
  }

  template <typename T>
  DataResponse<T> decode(const std::shared_ptr<http::DataRequest>& request) {
    Delivered<DataResponse<T>> delivered;
    http::responseDecodable<T>(request, delivered.queue(), delivered.handler());
    return delivered.wait();
  }

  // Lets `request` run to its end with a handler that delivers its body.
  static void finishWithAHandler(const std::shared_ptr<http::DataRequest>& request) {
    Delivered<DataResponse<Data>> first;
    http::responseData(request, first.queue(), first.handler());
    first.wait();
    ASSERT_TRUE(waitUntil([&] { return request->isFinished(); }));
  }

  static ValidationKind validationKind(const std::optional<HTTPError>& error) {
    if (!error || !error->responseValidationReason())
      throw std::runtime_error("not a validation error");
    return error->responseValidationReason()->kind;
  }

  LoopbackServer server_;
  std::shared_ptr<http::Session> session_ = makeTrustingSession();
};

// Which types and statuses pass is the validators' own business; here: validate() attaches
// the status check first and the content-type check second, against the request's Accept.
TEST_F(ResponseHandlerTest, DefaultValidationChecksStatusThenContentType) {
  EXPECT_TRUE(
      decode<Manifest>(http::validate(get("/json", "application/json"))).result.isSuccess());
  const auto html = decode<http::Empty>(http::validate(get("/html", "application/json")));
  EXPECT_EQ(validationKind(html.error()), ValidationKind::unacceptableContentType);
  // Both validators fail here; the status check was attached first and wins.
  const auto serverError =
      decode<http::Empty>(http::validate(get("/error-page", "application/json")));
  EXPECT_EQ(validationKind(serverError.error()), ValidationKind::unacceptableStatusCode);
  EXPECT_EQ(serverError.error()->responseCode(), 500);
}

TEST_F(ResponseHandlerTest, NoValidationRunsAfterATransportFailure) {
  auto refused =
      session_->request("https://127.0.0.1:" + std::to_string(LoopbackServer::refusedPort()) + "/");
  auto calls = std::make_shared<std::atomic<int>>(0);
  http::validate(refused, http::DataValidation([calls](const auto&, const auto&, const auto&) {
                   ++*calls;
                   return http::ValidationResult::failure(
                       platform::makeError(HTTPError::explicitlyCancelled()));
                 }));
  const auto response = decode<http::Empty>(refused);
  ASSERT_TRUE(response.error());
  EXPECT_TRUE(response.error()->isSessionTaskError()) << response.error()->localizedDescription();
  EXPECT_EQ(calls->load(), 0);
}

TEST_F(ResponseHandlerTest, ADecodingFailureIsRetriedAndTheCallerHearsOnce) {
  std::atomic<int> served{0};
  server_.get("/flaky", [&](const httplib::Request&, httplib::Response& response) {
    response.set_content(served++ == 0 ? R"({"size": "7"})" : R"({"size": 8})", "application/json");
  });
  std::atomic<int> retrierCalls{0};
  auto retrier = std::make_shared<http::Retrier>(
      [&](const auto& request, const auto&, const HTTPError& error, auto completion) {
        ++retrierCalls;
        const bool decoding = error.isResponseSerializationError();
        completion(decoding && request->retryCount() == 0 ? http::RetryResult::retry()
                                                          : http::RetryResult::doNotRetry());
      });

  Delivered<DataResponse<Manifest>> delivered;
  auto request = get("/flaky", std::nullopt, retrier);
  http::responseDecodable<Manifest>(request, delivered.queue(), delivered.handler());
  const auto response = delivered.wait();
  ASSERT_TRUE(response.result.isSuccess()) << response.description();
  EXPECT_EQ(response.value()->size, 8);
  EXPECT_EQ(served.load(), 2);
  EXPECT_EQ(retrierCalls.load(), 1);
  EXPECT_EQ(request->retryCount(), 1);
  // Give a stray second delivery the chance to show up.
  EXPECT_FALSE(waitUntil([&] { return delivered.count() > 1; }, std::chrono::milliseconds(300)));
}

TEST_F(ResponseHandlerTest, ValidationAndParsingAreReportedToMonitors) {
  auto monitor = std::make_shared<RecordingMonitor>();
  session_ = makeTrustingSession({monitor});
  const auto html = decode<http::Empty>(http::validate(get("/html", "application/json")));
  ASSERT_TRUE(html.error());
  ASSERT_TRUE(monitor->waitFor("requestDidParseResponse"));
  // Status passes, content type fails; each validator reports, and the handler reports once.
  const auto events = monitor->events();
  const auto validation =
      std::find(events.begin(), events.end(), "requestDidValidateRequestResponseDataWithResult");
  ASSERT_NE(validation, events.end());
  EXPECT_EQ(*std::next(validation), "requestDidValidateRequestResponseDataWithResult(failure)");
  EXPECT_EQ(*std::next(validation, 2), "requestDidCompleteTaskWithError");
  EXPECT_EQ(monitor->count("requestDidParseResponse"), 1u);
}

// How a request whose decoding failure asked for a delayed retry is ended before the next
// attempt; each way it must still deliver exactly once and leave the session.
enum class Ending {
  cancelDuringDelay,
  dropSessionDuringDelay,
  cancelWhileRetrierDecides,
  retrierAnswersAfterSessionDropped
};

struct EndingCase {
  const char* name;
  Ending ending;
  HTTPError::Kind delivered;
  // The failing handler is added to the request after it finished, and its retry is the
  // only thing left that refers to it.
  bool addedAfterFinish = false;
  // Test listings show the case by its name.
  friend void PrintTo(const EndingCase& c, std::ostream* os) { *os << c.name; }
};

class SerializerRetryEnding : public ResponseHandlerTest,
                              public ::testing::WithParamInterface<EndingCase> {};

TEST_P(SerializerRetryEnding, DeliversOnceAndLeavesTheSession) {
  server_.serveBody("/broken", "{", "application/json");
  const Ending ending = GetParam().ending;
  const bool answerLater = ending == Ending::cancelWhileRetrierDecides ||
                           ending == Ending::retrierAnswersAfterSessionDropped;
  auto parked = std::make_shared<std::promise<http::RequestRetrier::Completion>>();
  auto retrier = std::make_shared<http::Retrier>(
      [parked, answerLater](const auto&, const auto&, const HTTPError&, auto completion) {
        if (!answerLater) completion(http::RetryResult::retryWithDelay(3600));
        parked->set_value(std::move(completion));
      });
  Delivered<DataResponse<Manifest>> delivered;
  auto request = get("/broken", std::nullopt, retrier);
  // The body serializes as bytes, so only the late handler's decoding asks the retrier.
  if (GetParam().addedAfterFinish) {
    ASSERT_NO_FATAL_FAILURE(finishWithAHandler(request));
  }
  http::responseDecodable<Manifest>(request, delivered.queue(), delivered.handler());
  auto answer = parked->get_future().get();
  const auto rootQueue = session_->rootQueue();
  // Let a given answer reach the session and schedule the attempt.
  for (int hop = 0; hop < 2; ++hop) onQueue(rootQueue, [] { return 0; });

  std::weak_ptr<http::Session> weakSession = session_;
  switch (ending) {
    case Ending::cancelDuringDelay:
    case Ending::cancelWhileRetrierDecides:
      request->cancel();
      break;
    case Ending::dropSessionDuringDelay:
    case Ending::retrierAnswersAfterSessionDropped:
      session_.reset();
      ASSERT_TRUE(waitUntil([&] { return weakSession.expired(); }));
      break;
  }
  if (answerLater) answer(http::RetryResult::retryWithDelay(3600));

  const auto response = delivered.wait();
  ASSERT_TRUE(response.error());
  EXPECT_EQ(response.error()->kind(), GetParam().delivered)
      << response.error()->localizedDescription();
  EXPECT_EQ(delivered.count(), 1u);
  EXPECT_EQ(request->retryCount(), 0);
  if (auto session = weakSession.lock()) {
    EXPECT_TRUE(waitUntil(
        [&] { return onQueue(rootQueue, [&] { return session->activeRequestCount(); }) == 0; }));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Endings, SerializerRetryEnding,
    ::testing::Values(
        EndingCase{.name = "CancelDuringDelay",
                   .ending = Ending::cancelDuringDelay,
                   .delivered = HTTPError::Kind::explicitlyCancelled},
        EndingCase{.name = "DropSessionDuringDelay",
                   .ending = Ending::dropSessionDuringDelay,
                   .delivered = HTTPError::Kind::sessionDeinitialized},
        EndingCase{.name = "DropSessionDuringDelayOfALateHandler",
                   .ending = Ending::dropSessionDuringDelay,
                   .delivered = HTTPError::Kind::sessionDeinitialized,
                   .addedAfterFinish = true},
        // The decoding failure the retrier was asked about is what there is to deliver.
        EndingCase{.name = "CancelWhileRetrierDecides",
                   .ending = Ending::cancelWhileRetrierDecides,
                   .delivered = HTTPError::Kind::responseSerializationFailed},
        EndingCase{.name = "RetrierAnswersAfterSessionDropped",
                   .ending = Ending::retrierAnswersAfterSessionDropped,
                   .delivered = HTTPError::Kind::responseSerializationFailed}),
    [](const auto& info) { return std::string(info.param.name); });

// Counts how often it serializes.
class CountingSerializer final : public http::DataResponseSerializerProtocol<int> {
 public:
  [[nodiscard]] http::Result<int> serialize(const std::optional<platform::URLRequest>&,
                                            const platform::HTTPURLResponse*,
                                            const std::optional<Data>&,
                                            const std::optional<HTTPError>&) const override {
    return ++calls;
  }
  mutable std::atomic<int> calls{0};
};

TEST_F(ResponseHandlerTest, HandlersAddedBackToBackToAFinishedRequestEachSerializeOnce) {
  auto request = get("/json");
  ASSERT_NO_FATAL_FAILURE(finishWithAHandler(request));

  auto a = std::make_shared<CountingSerializer>();
  auto b = std::make_shared<CountingSerializer>();
  Delivered<DataResponse<int>> fromA;
  Delivered<DataResponse<int>> fromB;
  http::response(request, fromA.queue(), std::shared_ptr<const CountingSerializer>(a),
                 fromA.handler());
  http::response(request, fromB.queue(), std::shared_ptr<const CountingSerializer>(b),
                 fromB.handler());
  EXPECT_EQ(fromA.wait().value(), 1);
  EXPECT_EQ(fromB.wait().value(), 1);
  ASSERT_TRUE(waitUntil([&] { return request->isFinished(); }));
  EXPECT_EQ(a->calls.load(), 1);
  EXPECT_EQ(b->calls.load(), 1);
}

TEST_F(ResponseHandlerTest, AHandlerAddedToAFinishedRequestIsDeliveredOnceWhenACancelFollows) {
  auto request = get("/json");
  ASSERT_NO_FATAL_FAILURE(finishWithAHandler(request));

  Delivered<DataResponse<Data>> late;
  {
    // The handler's run and the cancel's finish are both queued before either starts.
    QueueBlocker blocked(session_->rootQueue());
    http::responseData(request, late.queue(), late.handler());
    request->cancel();
  }
  late.wait();
  EXPECT_FALSE(waitUntil([&] { return late.count() > 1; }, std::chrono::milliseconds(300)));
}

TEST_F(ResponseHandlerTest, AFinishHandlerAddedWhileFinishHandlersRunRunsAtTheNextEnd) {
  auto request = get("/json");
  std::atomic<int> added{0};
  request->addFinishHandler([weak = std::weak_ptr(request), &added] {
    if (auto self = weak.lock()) self->addFinishHandler([&added] { ++added; });
  });
  ASSERT_NO_FATAL_FAILURE(finishWithAHandler(request));

  // A late response handler ends the request again.
  Delivered<DataResponse<Data>> late;
  http::responseData(request, late.queue(), late.handler());
  late.wait();
  EXPECT_TRUE(waitUntil([&] { return added.load() == 1; }));
}

// Handlers are added from this thread while the root queue ends the run of the one added
// before, each joining that run or starting the next. No interleaving can be forced at that
// boundary, so each handler is aimed at it: once the previous one is serializing, it comes
// a little later when that run was still going, a little earlier when it was over.
TEST_F(ResponseHandlerTest, AHandlerAddedAsARunEndsIsDelivered) {
  constexpr int kHandlers = 2000;
  using Clock = std::chrono::steady_clock;
  auto request = get("/json");
  ASSERT_NO_FATAL_FAILURE(finishWithAHandler(request));

  auto serializer = std::make_shared<CountingSerializer>();
  Delivered<DataResponse<int>> delivered;
  std::chrono::nanoseconds delay{0};
  for (int added = 0; added < kHandlers; ++added) {
    // Busy waits: a sleep would miss the moment by far.
    const auto giveUp = Clock::now() + 5s;
    while (serializer->calls.load() < added && Clock::now() < giveUp) {
    }
    ASSERT_EQ(serializer->calls.load(), added) << "handler " << added - 1 << " never ran";
    for (const auto until = Clock::now() + delay; Clock::now() < until;) {
    }
    const auto step = std::max(delay / 64, std::chrono::nanoseconds(10));
    delay =
        std::max(request->isFinished() ? delay - step : delay + step, std::chrono::nanoseconds(0));
    http::response(request, delivered.queue(),
                   std::shared_ptr<const CountingSerializer>(serializer), delivered.handler());
  }
  EXPECT_TRUE(waitUntil([&] { return delivered.count() == kHandlers; }))
      << delivered.count() << " of " << kHandlers << " handlers delivered";
}

}  // namespace
}  // namespace tolvane::test
