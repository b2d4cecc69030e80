#include "HTTP/Core/Session.h"

#include <gtest/gtest.h>

#include <ostream>

#include <atomic>
#include <map>

#include "HTTP/Core/SessionTestSupport.h"
#include "HTTP/Retry/Adapter.h"
#include "HTTP/Retry/Retrier.h"

namespace tolvane::test {
namespace {

using http::DataRequest;
using http::HTTPError;
using http::Request;
using http::Session;

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.serveBody("/hello", "hello", "text/plain");
    server_.delayHeaders("/slow", 3000ms, "late");
    server_.get("/flaky", [attempts = attempts_](const httplib::Request& req,
                                                 httplib::Response& res) {
      const int seen = attempts->write([&](auto& map) { return map[req.get_param_value("id")]++; });
      res.status = seen == 0 ? 503 : 200;
      res.set_content(seen == 0 ? "busy" : "ok", "text/plain");
    });
    server_.start();
  }

  // A request to a refused port, returned once its retrier was asked, with the retrier's
  // completion, which the caller must answer.
  std::pair<std::shared_ptr<DataRequest>, http::RequestRetrier::Completion> requestAskingToRetry(
      const std::shared_ptr<Session>& session) {
    auto asked = std::make_shared<std::promise<http::RequestRetrier::Completion>>();
    auto retrier = std::make_shared<http::Retrier>(
        [asked](const std::shared_ptr<Request>&, const std::shared_ptr<Session>&, const HTTPError&,
                http::RequestRetrier::Completion done) { asked->set_value(std::move(done)); });
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(LoopbackServer::refusedPort()) + "/";
    auto request = session->request(refused, http::HTTPMethod::get, std::nullopt, nullptr,
                                    std::nullopt, retrier);
    responses_.attach(request);
    return {request, asked->get_future().get()};
  }

  std::shared_ptr<platform::Protected<std::map<std::string, int>>> attempts_ =
      std::make_shared<platform::Protected<std::map<std::string, int>>>();

  LoopbackServer server_{LoopbackServer::plainHTTP()};
  std::shared_ptr<RecordingMonitor> monitor_ = std::make_shared<RecordingMonitor>();
  ResponseCollector responses_;
};

std::vector<std::string> without(std::vector<std::string> events, const std::string& name) {
  events.erase(std::remove(events.begin(), events.end(), name), events.end());
  return events;
}

// What one successful attempt with one plain handler reports, requestDidResume aside.
std::vector<std::string> attemptEvents(bool adapted) {
  std::vector<std::string> events{"requestDidCreateInitialURLRequest",
                                  "requestDidCreateURLRequest",
                                  "requestDidCreateTask",
                                  "requestDidResumeTask",
                                  "dataTaskDidReceiveResponse",
                                  "dataTaskDidReceiveData",
                                  "taskDidFinishCollectingMetrics",
                                  "requestDidGatherMetrics",
                                  "taskDidComplete",
                                  "requestDidCompleteTaskWithError",
                                  "requestDidFinish",
                                  "requestDidParseResponse"};
  if (adapted) events.insert(events.begin() + 1, "requestDidAdaptInitialRequestToAdaptedRequest");
  return events;
}

class OneAttempt : public SessionTest, public ::testing::WithParamInterface<bool> {};

TEST_P(OneAttempt, ReportsItsEventsInOrderAndSendsWhatWasAdapted) {
  const bool adapted = GetParam();
  auto adapter = std::make_shared<http::Adapter>([](const platform::URLRequest& request,
                                                    const std::shared_ptr<Session>&,
                                                    http::RequestAdapter::Completion done) {
    auto changed = request;
    changed.setValue("yes", "X-Adapted");
    done(changed);
  });
  auto session = makeSession(monitor_);
  auto request = session->request(server_.url("/hello"), http::HTTPMethod::get, std::nullopt,
                                  nullptr, std::nullopt, adapted ? adapter : nullptr);
  responses_.attach(request);
  auto response = responses_.wait();
  ASSERT_TRUE(monitor_->waitFor("requestDidParseResponse"));

  EXPECT_FALSE(response.error().has_value());
  EXPECT_EQ(response.data, "hello");
  ASSERT_TRUE(response.response);
  EXPECT_EQ(response.response->statusCode, 200);
  EXPECT_TRUE(request->isFinished());
  // When resume reaches the request relative to the URL request's creation depends on
  // thread timing; it always comes before the task is resumed.
  const auto events = monitor_->events();
  EXPECT_LT(std::find(events.begin(), events.end(), "requestDidResume"),
            std::find(events.begin(), events.end(), "requestDidResumeTask"));
  EXPECT_EQ(without(events, "requestDidResume"), attemptEvents(adapted));
  ASSERT_EQ(server_.requests().size(), 1u);
  EXPECT_EQ(server_.requests()[0].header("X-Adapted").has_value(), adapted);
  EXPECT_EQ(request->requests().size(), adapted ? 2u : 1u);
}

INSTANTIATE_TEST_SUITE_P(PlainOrAdapted, OneAttempt, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Adapted" : "Plain"; });

TEST_F(SessionTest, AMainQueueMonitorGetsTheEventsLaterInSendingOrder) {
  auto mainMonitor = std::make_shared<RecordingMonitor>(platform::DispatchQueue::main());
  http::SessionSettings settings;
  settings.eventMonitors = std::vector<std::shared_ptr<http::EventMonitor>>{monitor_, mainMonitor};
  auto session = http::Session::make(std::nullopt, nullptr, nullptr, std::move(settings));
  responses_.attach(session->request(server_.url("/hello")));
  responses_.wait();
  ASSERT_TRUE(monitor_->waitFor("requestDidParseResponse"));
  // Nothing reaches it while the main thread is busy elsewhere (here: in this test)...
  EXPECT_TRUE(mainMonitor->events().empty());
  // ...and once the main loop runs, everything arrives in the order it was sent.
  ASSERT_TRUE(platform::MainRunLoop::runUntil(
      [&] { return mainMonitor->count("requestDidParseResponse") == 1; }, 5000ms));
  EXPECT_EQ(mainMonitor->events(), monitor_->events());
}

TEST_F(SessionTest, GETWithABodyFailsBeforeAndAfterAdaptation) {
  auto session = makeSession(monitor_);
  auto adapterCalls = std::make_shared<std::atomic<int>>(0);
  auto countingAdapter = std::make_shared<http::Adapter>(
      [adapterCalls](const platform::URLRequest& r, const std::shared_ptr<Session>&,
                     http::RequestAdapter::Completion done) {
        ++*adapterCalls;
        done(r);
      });
  platform::URLRequest withBody(platform::URL::parse(server_.url("/hello")));
  withBody.httpBody = "";
  auto first = session->request(std::make_shared<http::URLRequestValue>(withBody), countingAdapter);
  responses_.attach(first);
  auto response = responses_.wait();
  ASSERT_TRUE(response.error());
  ASSERT_EQ(response.error()->kind(), HTTPError::Kind::urlRequestValidationFailed);
  EXPECT_EQ(adapterCalls->load(), 0);

  auto addsBody = std::make_shared<http::Adapter>([](const platform::URLRequest& r,
                                                     const std::shared_ptr<Session>&,
                                                     http::RequestAdapter::Completion done) {
    auto adapted = r;
    adapted.httpBody = "x";
    done(adapted);
  });
  ResponseCollector second;
  second.attach(session->request(server_.url("/hello"), http::HTTPMethod::get, std::nullopt,
                                 nullptr, std::nullopt, addsBody));
  auto adaptedResponse = second.wait();
  ASSERT_TRUE(adaptedResponse.error());
  ASSERT_EQ(adaptedResponse.error()->kind(), HTTPError::Kind::requestAdaptationFailed);
  auto cause =
      std::dynamic_pointer_cast<const HTTPError>(adaptedResponse.error()->underlyingError());
  ASSERT_TRUE(cause);
  EXPECT_EQ(cause->kind(), HTTPError::Kind::urlRequestValidationFailed);
  EXPECT_EQ(server_.requestCount(), 0u);
}

// Cancels the request it belongs to while its URL request is being built.
class CancellingConvertible final : public http::URLRequestConvertible {
 public:
  explicit CancellingConvertible(std::string url) : url_(std::move(url)) {}
  // Weak: the request owns this convertible.
  std::weak_ptr<Request> target;
  [[nodiscard]] http::Result<platform::URLRequest> asURLRequest() const override {
    if (auto request = target.lock()) request->cancel();
    return platform::URLRequest(platform::URL::parse(url_));
  }

 private:
  std::string url_;
};

// Cancels itself just after its task is made, before the session aligns the task's state.
class CancelOnTaskCreation final : public DataRequest {
 public:
  using DataRequest::DataRequest;
  platform::TaskPtr makeTask(http::RequestKey key, const platform::URLRequest& request,
                             platform::URLSession& session) override {
    auto task = DataRequest::makeTask(key, request, session);
    cancel();
    return task;
  }
};

// Where in an attempt the cancel lands, and what the attempt had made by then.
enum class Stage { beforeFirstStep, whileBuildingURLRequest, whileAdapting, atTaskCreation };
struct CancelCase {
  const char* name;
  Stage stage;
  std::size_t urlRequests;
  std::size_t tasks;
  // Test listings show the case by its name.
  friend void PrintTo(const CancelCase& c, std::ostream* os) { *os << c.name; }
};

class CancelAtStage : public SessionTest, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelAtStage, EndsTheRequestCancelledHavingMadeNothingMore) {
  auto session = makeSession(monitor_);
  const auto url = server_.url(GetParam().stage == Stage::atTaskCreation ? "/slow" : "/hello");
  auto adapterCalls = std::make_shared<std::atomic<int>>(0);
  auto target = std::make_shared<std::weak_ptr<Request>>();
  auto adapter = std::make_shared<http::Adapter>(
      [adapterCalls, target, stage = GetParam().stage](const platform::URLRequest& r,
                                                       const std::shared_ptr<Session>&,
                                                       http::RequestAdapter::Completion done) {
        ++*adapterCalls;
        if (auto request = target->lock(); request && stage == Stage::whileAdapting)
          request->cancel();
        done(r);
      });
  std::shared_ptr<DataRequest> request;
  {
    QueueBlocker blocked(session->rootQueue());
    switch (GetParam().stage) {
      case Stage::beforeFirstStep:
      case Stage::whileAdapting:
        request = session->request(url, http::HTTPMethod::get, std::nullopt, nullptr, std::nullopt,
                                   adapter);
        if (GetParam().stage == Stage::beforeFirstStep) request->cancel();
        break;
      case Stage::whileBuildingURLRequest: {
        auto convertible = std::make_shared<CancellingConvertible>(url);
        request = session->request(convertible, adapter);
        convertible->target = request;
        break;
      }
      case Stage::atTaskCreation:
        request = std::make_shared<CancelOnTaskCreation>(
            std::make_shared<http::URLRequestValue>(
                platform::URLRequest(platform::URL::parse(url))),
            session->requestContext(nullptr));
        session->perform(request);
        request->resume();
        break;
    }
    *target = request;
  }
  responses_.attach(request);
  auto response = responses_.wait();
  ASSERT_TRUE(response.error());
  EXPECT_EQ(response.error()->kind(), HTTPError::Kind::explicitlyCancelled);
  EXPECT_TRUE(request->isCancelled());
  EXPECT_EQ(request->requests().size(), GetParam().urlRequests);
  ASSERT_EQ(request->tasks().size(), GetParam().tasks);
  EXPECT_EQ(adapterCalls->load(), GetParam().stage == Stage::whileAdapting ? 1 : 0);
  if (GetParam().tasks == 1) {
    // The task was resumed so that it still reports back, then cancelled.
    EXPECT_TRUE(monitor_->waitFor("requestDidCancelTask"));
    EXPECT_TRUE(waitUntil([&] {
      return request->tasks()[0]->state() == platform::URLSessionTask::State::completed;
    }));
  } else {
    EXPECT_EQ(server_.requestCount(), 0u);
  }
  EXPECT_TRUE(waitUntil([&] {
    return onQueue(session->rootQueue(), [&] { return session->activeRequestCount(); }) == 0;
  }));
  EXPECT_EQ(responses_.count(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Stages, CancelAtStage,
    ::testing::Values(CancelCase{"BeforeTheFirstStep", Stage::beforeFirstStep, 0, 0},
                      CancelCase{"WhileBuildingTheURLRequest", Stage::whileBuildingURLRequest, 1,
                                 0},
                      CancelCase{"WhileAdapting", Stage::whileAdapting, 2, 0},
                      CancelCase{"AtTaskCreation", Stage::atTaskCreation, 1, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// Acts on the request from inside its requestDidCreateTask, which the request sends right
// after the task becomes visible, and counts the task events it is then sent.
class ActOnTaskCreation final : public http::EventMonitor {
 public:
  explicit ActOnTaskCreation(bool cancel) : cancel_(cancel) {}
  void requestDidCreateTask(const std::shared_ptr<Request>& request,
                            const platform::TaskPtr&) override {
    if (cancel_) {
      request->cancel();
    } else {
      request->resume();
    }
  }
  void requestDidResumeTask(const std::shared_ptr<Request>&, const platform::TaskPtr&) override {
    ++taskEvents;
  }
  void requestDidCancelTask(const std::shared_ptr<Request>&, const platform::TaskPtr&) override {
    ++taskEvents;
  }
  std::atomic<int> taskEvents{0};

 private:
  const bool cancel_;
};

class StateChangeAtTaskCreation : public SessionTest, public ::testing::WithParamInterface<bool> {};

TEST_P(StateChangeAtTaskCreation, SendsItsTaskEventOnce) {
  http::SessionSettings settings;
  settings.startRequestsImmediately = false;
  auto session = makeSession(monitor_, settings);
  auto actor = std::make_shared<ActOnTaskCreation>(GetParam());
  auto context = session->requestContext(nullptr);
  context.eventMonitor = actor;  // called directly on the root queue, not through a fan-out
  auto convertible = std::make_shared<http::URLRequestValue>(
      platform::URLRequest(platform::URL::parse(server_.url("/hello"))));
  auto request = DataRequest::make(convertible, context);
  session->perform(request);
  responses_.attach(request);
  responses_.wait();
  onQueue(session->rootQueue(), [] { return 0; });
  EXPECT_EQ(actor->taskEvents.load(), 1);
}

INSTANTIATE_TEST_SUITE_P(ResumeOrCancel, StateChangeAtTaskCreation, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Cancel" : "Resume"; });

// The cancel lands during the retry delay, or while the retrier is deciding (which then asks
// for a retry all the same).
class CancelAfterAFailedAttempt : public SessionTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CancelAfterAFailedAttempt, KeepsThatAttemptsErrorAndLeavesTheSession) {
  const bool whileDeciding = GetParam();
  auto session = makeSession(monitor_);
  auto [request, answer] = requestAskingToRetry(session);
  if (!whileDeciding) {
    answer(http::RetryResult::retryWithDelay(30.0));
    // The answer reaches the session, which schedules the attempt.
    for (int hop = 0; hop < 2; ++hop) onQueue(session->rootQueue(), [] { return 0; });
  }
  request->cancel();
  auto response = responses_.wait();
  if (whileDeciding) answer(http::RetryResult::retryWithDelay(30.0));
  ASSERT_TRUE(response.error());
  EXPECT_EQ(response.error()->kind(), HTTPError::Kind::sessionTaskFailed);
  auto cause =
      std::dynamic_pointer_cast<const platform::URLError>(response.error()->underlyingError());
  ASSERT_TRUE(cause);
  EXPECT_EQ(cause->code(), platform::URLError::cannotConnectToHost);
  EXPECT_EQ(request->retryCount(), 0);
  EXPECT_EQ(monitor_->count("requestIsRetrying"), 0u);
  // The answer came after the cancel had ended the request, so it must not hold it again.
  for (int hop = 0; hop < 2; ++hop) onQueue(session->rootQueue(), [] { return 0; });
  EXPECT_EQ(onQueue(session->rootQueue(), [&] { return session->activeRequestCount(); }), 0u);
}

INSTANTIATE_TEST_SUITE_P(DuringDelayOrDecision, CancelAfterAFailedAttempt, ::testing::Bool(),
                         [](const auto& info) {
                           return info.param ? "WhileDeciding" : "DuringDelay";
                         });

TEST_F(SessionTest, RepeatedStateOperationsChangeNothing) {
  http::SessionSettings settings;
  settings.startRequestsImmediately = false;
  auto session = makeSession(monitor_, settings);
  auto request = session->request(server_.url("/slow"));
  request->suspend();
  request->suspend();
  request->cancel();
  request->cancel();
  request->resume();
  request->suspend();
  responses_.attach(request);
  auto response = responses_.wait();
  ASSERT_TRUE(monitor_->waitFor("requestDidFinish"));
  ASSERT_TRUE(response.error());
  EXPECT_EQ(response.error()->kind(), HTTPError::Kind::explicitlyCancelled);
  EXPECT_EQ(monitor_->count("requestDidSuspend"), 1u);
  EXPECT_EQ(monitor_->count("requestDidCancel"), 1u);
  EXPECT_EQ(monitor_->count("requestDidResume"), 0u);
  EXPECT_TRUE(request->isCancelled());
}

TEST_F(SessionTest, DroppingTheSessionMidRequestEndsItWithSessionDeinitialized) {
  auto session = makeSession(monitor_);
  auto request = session->request(server_.url("/slow"));
  responses_.attach(request);
  ASSERT_TRUE(monitor_->waitFor("requestDidResumeTask"));
  session.reset();
  auto response = responses_.wait();
  ASSERT_TRUE(response.error());
  EXPECT_EQ(response.error()->kind(), HTTPError::Kind::sessionDeinitialized);
  EXPECT_EQ(responses_.count(), 1u);
  EXPECT_FALSE(request->delegate());
}

// Many requests at once through one session: each fails its first attempt with a 503, is
// retried by its interceptor and then succeeds. Run under the sanitizers for races and
// lifetimes.
TEST_F(SessionTest, ManyConcurrentRetriedRequestsAllComplete) {
  auto retrier = std::make_shared<http::Retrier>([](const std::shared_ptr<Request>& request,
                                                    const std::shared_ptr<Session>&,
                                                    const HTTPError&,
                                                    http::RequestRetrier::Completion done) {
    done(request->retryCount() < 2 ? http::RetryResult::retry() : http::RetryResult::doNotRetry());
  });
  constexpr int kRequests = 48;
  auto succeeded = std::make_shared<std::atomic<int>>(0);
  auto delivered = std::make_shared<std::atomic<int>>(0);
  auto session = makeSession(monitor_);
  auto queue = platform::DispatchQueue::make("test.stress");
  for (int i = 0; i < kRequests; ++i) {
    auto request =
        session->request(server_.url("/flaky?id=" + std::to_string(i)), http::HTTPMethod::get,
                         std::nullopt, nullptr, std::nullopt, retrier);
    failOnErrorStatus(request);
    http::response(request, queue, [succeeded, delivered](const auto& response) {
      if (!response.error() && response.data == "ok") ++*succeeded;
      ++*delivered;
    });
  }
  ASSERT_TRUE(waitUntil([&] { return delivered->load() == kRequests; }, 60s));
  EXPECT_EQ(succeeded->load(), kRequests);
  EXPECT_TRUE(monitor_->waitFor("requestDidFinish", kRequests));
  EXPECT_EQ(monitor_->count("requestIsRetrying"), static_cast<std::size_t>(kRequests));
  EXPECT_TRUE(waitUntil([&] {
    return onQueue(session->rootQueue(), [&] { return session->activeRequestCount(); }) == 0;
  }));
  EXPECT_EQ(server_.requestCount(), 2u * kRequests);
}

}  // namespace
}  // namespace tolvane::test
