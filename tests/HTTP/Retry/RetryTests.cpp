#include <gtest/gtest.h>

#include "HTTP/Core/SessionTestSupport.h"
#include "HTTP/Retry/ConnectionLostRetryPolicy.h"
#include "HTTP/Retry/Interceptor.h"
#include "HTTP/Retry/RetryPolicy.h"

namespace tolvane::test {
namespace {

using http::HTTPError;
using http::HTTPMethod;
using http::Request;
using http::RetryResult;
using http::Session;
using platform::URLError;

using Calls = platform::Protected<std::vector<int>>;
using Adapters = std::vector<std::shared_ptr<http::RequestAdapter>>;
using Retriers = std::vector<std::shared_ptr<http::RequestRetrier>>;

// A retrier answering from a script (the last answer repeats), recording the retry count
// it saw and the error it was asked about.
std::shared_ptr<http::Retrier> scripted(
    std::shared_ptr<Calls> counts, std::vector<RetryResult> answers,
    std::shared_ptr<platform::Protected<std::vector<HTTPError>>> errors = nullptr) {
  return std::make_shared<http::Retrier>(
      [=](const std::shared_ptr<Request>& request, const std::shared_ptr<Session>&,
          const HTTPError& error, http::RequestRetrier::Completion done) {
        const auto index = counts->write([&](auto& list) {
          list.push_back(request->retryCount());
          return list.size() - 1;
        });
        if (errors) errors->write([&](auto& list) { list.push_back(error); });
        done(answers[std::min(index, answers.size() - 1)]);
      });
}

class RetryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto busy = [](const httplib::Request&, httplib::Response& res) {
      res.status = 503;
      res.set_content("busy", "text/plain");
    };
    server_.get("/busy", busy);
    server_.serveBody("/ok", "ok", "text/plain");
    server_.delayHeaders("/slow", 3000ms, "late");
    server_.start();
  }

  // Sends a GET whose error statuses fail it.
  std::shared_ptr<http::DataRequest> send(const std::string& path,
                                          std::shared_ptr<http::RequestInterceptor> interceptor) {
    auto request = session_->request(server_.url(path), HTTPMethod::get, std::nullopt, nullptr,
                                     std::nullopt, std::move(interceptor));
    failOnErrorStatus(request);
    responses_.attach(request);
    return request;
  }

  LoopbackServer server_{LoopbackServer::plainHTTP()};
  std::shared_ptr<RecordingMonitor> monitor_ = std::make_shared<RecordingMonitor>();
  std::shared_ptr<Session> session_ = makeSession(monitor_);
  ResponseCollector responses_;
  std::shared_ptr<Calls> counts_ = std::make_shared<Calls>();
};

TEST_F(RetryTest, RetrierSeesTheCountOfRetriesStartedSoFar) {
  auto request = send("/busy", scripted(counts_, {RetryResult::retry(), RetryResult::retry(),
                                                  RetryResult::doNotRetry()}));
  auto response = responses_.wait();
  EXPECT_EQ(counts_->get(), (std::vector<int>{0, 1, 2}));
  ASSERT_TRUE(response.error());
  EXPECT_EQ(response.error()->kind(), HTTPError::Kind::responseValidationFailed);
  EXPECT_EQ(response.error()->responseCode(), 503);
  EXPECT_EQ(server_.requestCount(), 3u);
  EXPECT_EQ(request->tasks().size(), 3u);
  // Each attempt records its built and its adapted URL request.
  EXPECT_EQ(request->requests().size(), 6u);
  EXPECT_TRUE(monitor_->waitFor("requestIsRetrying", 2));
}

TEST_F(RetryTest, AnErrorFromTheRetrierIsWrappedWithTheRequestsOwn) {
  send("/busy",
       scripted(counts_,
                {RetryResult::doNotRetryWithError(platform::makeError(PlainError("gave up")))}));
  auto response = responses_.wait();
  ASSERT_TRUE(response.error());
  ASSERT_EQ(response.error()->kind(), HTTPError::Kind::requestRetryFailed);
  EXPECT_EQ(response.error()->underlyingError()->localizedDescription(), "gave up");
  auto original = std::dynamic_pointer_cast<const HTTPError>(response.error()->originalError());
  ASSERT_TRUE(original);
  EXPECT_EQ(original->kind(), HTTPError::Kind::responseValidationFailed);
  EXPECT_EQ(server_.requestCount(), 1u);
}

TEST_F(RetryTest, AURLRequestThatCannotBeBuiltIsOfferedToTheRetrier) {
  auto errors = std::make_shared<platform::Protected<std::vector<HTTPError>>>();
  auto retrier = scripted(counts_, {RetryResult::retry(), RetryResult::doNotRetry()}, errors);
  auto request = session_->request("http://exa mple.com:99999999/", HTTPMethod::get, std::nullopt,
                                   nullptr, std::nullopt, retrier);
  responses_.attach(request);
  auto response = responses_.wait();
  EXPECT_EQ(counts_->get(), (std::vector<int>{0, 1}));
  ASSERT_TRUE(response.error());
  EXPECT_EQ(response.error()->kind(), HTTPError::Kind::invalidURL);
  EXPECT_EQ(errors->get().at(0).kind(), HTTPError::Kind::invalidURL);
  EXPECT_TRUE(request->tasks().empty());
  EXPECT_FALSE(response.response);
  EXPECT_TRUE(monitor_->waitFor("requestDidFailToCreateURLRequestWithError", 2));
}

TEST_F(RetryTest, AnUnvalidatedErrorStatusIsNeverOfferedToTheRetrier) {
  responses_.attach(session_->request(server_.url("/busy"), HTTPMethod::get, std::nullopt, nullptr,
                                      std::nullopt, scripted(counts_, {RetryResult::retry()})));
  const auto plain = responses_.wait();
  EXPECT_FALSE(plain.error().has_value());
  ASSERT_TRUE(plain.response);
  EXPECT_EQ(plain.response->statusCode, 503);
  EXPECT_TRUE(counts_->get().empty());
}

TEST_F(RetryTest, ACancelledRequestIsNeverOfferedToTheRetrier) {
  auto request = send("/slow", scripted(counts_, {RetryResult::retry()}));
  ASSERT_TRUE(monitor_->waitFor("requestDidResumeTask"));
  request->cancel();
  auto response = responses_.wait();
  ASSERT_TRUE(response.error());
  EXPECT_EQ(response.error()->kind(), HTTPError::Kind::explicitlyCancelled);
  EXPECT_TRUE(counts_->get().empty());
}

// Asks `policy` about a finished `request` failing with `error`.
RetryResult decide(http::RetryPolicy& policy, const std::shared_ptr<Request>& request,
                   const HTTPError& error) {
  std::optional<RetryResult> answer;
  policy.retry(request, nullptr, error, [&](RetryResult result) { answer = result; });
  EXPECT_TRUE(answer.has_value());
  return answer.value_or(RetryResult::doNotRetry());
}

// Nothing in the program uses the stock policies: one case each.
TEST_F(RetryTest, StockPoliciesRetryWhatTheyCoverWithGrowingDelays) {
  // Scale and delays exact in binary, so they compare equal.
  auto policy = std::make_shared<http::RetryPolicy>(2, 3, 0.0625);
  auto delays = std::make_shared<platform::Protected<std::vector<double>>>();
  auto request = send(
      "/busy",
      std::make_shared<http::Retrier>([policy, delays](const auto& request, const auto& session,
                                                       const HTTPError& error, auto done) {
        policy->retry(request, session, error, [delays, done](RetryResult result) {
          if (result.delay()) delays->write([&](auto& list) { list.push_back(*result.delay()); });
          done(result);
        });
      }));
  responses_.wait();
  EXPECT_EQ(delays->get(), (std::vector<double>{0.0625, 0.1875}));
  EXPECT_EQ(server_.requestCount(), 3u);

  http::ConnectionLostRetryPolicy lost(3);  // the request above was retried twice
  const auto lostError =
      HTTPError::sessionTaskFailed(platform::makeError(URLError(URLError::networkConnectionLost)));
  EXPECT_EQ(decide(lost, request, lostError).kind(), RetryResult::Kind::retryWithDelay);
}

// Composition

http::RequestAdapter::Completion into(std::optional<http::Result<platform::URLRequest>>& slot) {
  return [&slot](http::Result<platform::URLRequest> result) { slot = std::move(result); };
}

std::shared_ptr<http::Adapter> header(std::string name,
                                      std::shared_ptr<std::vector<std::string>> log) {
  return std::make_shared<http::Adapter>([name, log](const platform::URLRequest& request,
                                                     const std::shared_ptr<Session>&,
                                                     http::RequestAdapter::Completion done) {
    log->push_back(name + "<-" + request.value("X-Last").value_or("none"));
    auto adapted = request;
    adapted.setValue(name, "X-Last");
    done(adapted);
  });
}

TEST(InterceptorTest, AdaptersRunInOrderAndStopAtTheFirstFailure) {
  auto log = std::make_shared<std::vector<std::string>>();
  std::optional<http::Result<platform::URLRequest>> result;
  http::Interceptor(Adapters{header("a", log), header("b", log)})
      .adapt(platform::URLRequest(), nullptr, into(result));
  ASSERT_TRUE(result && result->isSuccess());
  EXPECT_EQ(result->value().value("X-Last"), "b");
  EXPECT_EQ(*log, (std::vector<std::string>{"a<-none", "b<-a"}));

  log->clear();
  auto failing = std::make_shared<http::Adapter>(
      [](const platform::URLRequest&, const std::shared_ptr<Session>&,
         http::RequestAdapter::Completion done) { done(HTTPError::explicitlyCancelled()); });
  result.reset();
  http::Interceptor(Adapters{failing, header("b", log)})
      .adapt(platform::URLRequest(), http::RequestAdapterState{}, into(result));
  ASSERT_TRUE(result && result->isFailure());
  EXPECT_EQ(result->error().kind(), HTTPError::Kind::explicitlyCancelled);
  EXPECT_TRUE(log->empty());
}

TEST(InterceptorTest, RetriersAreAskedUntilOneDecides) {
  auto asked = std::make_shared<std::vector<std::string>>();
  auto answering = [asked](std::string name, RetryResult answer) {
    return std::make_shared<http::Retrier>([=](const std::shared_ptr<Request>&,
                                               const std::shared_ptr<Session>&, const HTTPError&,
                                               http::RequestRetrier::Completion done) {
      asked->push_back(name);
      done(answer);
    });
  };
  std::optional<RetryResult> result;
  auto record = [&](RetryResult r) { result = r; };
  http::Interceptor(Adapters{}, Retriers{answering("a", RetryResult::doNotRetry()),
                                         answering("b", RetryResult::retryWithDelay(3))})
      .retry(nullptr, nullptr, HTTPError::explicitlyCancelled(), record);
  EXPECT_EQ(result->delay(), 3.0);
  EXPECT_EQ(*asked, (std::vector<std::string>{"a", "b"}));

  asked->clear();
  http::Interceptor(Adapters{}, Retriers{answering("a", RetryResult::retry()),
                                         answering("b", RetryResult::doNotRetry())})
      .retry(nullptr, nullptr, HTTPError::explicitlyCancelled(), record);
  EXPECT_EQ(result->kind(), RetryResult::Kind::retry);
  EXPECT_EQ(*asked, (std::vector<std::string>{"a"}));
}

TEST_F(RetryTest, RequestLevelInterceptorRunsBeforeTheSessionOne) {
  auto log = std::make_shared<std::vector<std::string>>();
  http::SessionSettings settings;
  settings.interceptor = std::make_shared<http::Interceptor>(
      Adapters{header("session", log)}, Retriers{scripted(counts_, {RetryResult::doNotRetry()})});
  auto session = makeSession(monitor_, settings);
  auto own = std::make_shared<Calls>();
  auto requestLevel = std::make_shared<http::Interceptor>(
      Adapters{header("request", log)}, Retriers{scripted(own, {RetryResult::doNotRetry()})});
  auto request = session->request(server_.url("/busy"), HTTPMethod::get, std::nullopt, nullptr,
                                  std::nullopt, requestLevel);
  failOnErrorStatus(request);
  responses_.attach(request);
  responses_.wait();
  EXPECT_EQ(*log, (std::vector<std::string>{"request<-none", "session<-request"}));
  EXPECT_EQ(own->get(), (std::vector<int>{0}));
  EXPECT_EQ(counts_->get(), (std::vector<int>{0}));
}

}  // namespace
}  // namespace tolvane::test
