#include "HTTP/Core/RequestInterceptor.h"

#include <gtest/gtest.h>

#include "HTTP/Core/RetryResult.h"

namespace tolvane::http {
namespace {

class PlainInterceptor final : public RequestInterceptor {};

TEST(RequestInterceptorTest, DefaultsPassRequestsThroughAndNeverRetry) {
  PlainInterceptor interceptor;
  platform::URLRequest request(platform::URL::parse("https://h.example/a?b=1"));
  request.httpMethod = "POST";
  request.setValue("v", "X-Mark");
  request.httpBody = "body";
  std::vector<std::optional<platform::URLRequest>> adapted;
  // The session calls the state form; by default it lands in the plain form.
  static_cast<RequestAdapter&>(interceptor)
      .adapt(request, RequestAdapterState{platform::UUID(), nullptr},
             [&](Result<platform::URLRequest> result) { adapted.push_back(result.success()); });
  EXPECT_EQ(adapted, (std::vector<std::optional<platform::URLRequest>>{request}));
  std::vector<RetryResult::Kind> answers;
  interceptor.retry(nullptr, nullptr, HTTPError::sessionTaskFailed(nullptr),
                    [&](RetryResult result) { answers.push_back(result.kind()); });
  EXPECT_EQ(answers, std::vector<RetryResult::Kind>{RetryResult::Kind::doNotRetry});
}

}  // namespace
}  // namespace tolvane::http
