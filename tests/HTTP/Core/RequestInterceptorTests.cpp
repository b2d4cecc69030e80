#include "HTTP/Core/RequestInterceptor.h"

#include <gtest/gtest.h>

#include "HTTP/Core/RetryResult.h"

namespace tolvane::http {
namespace {

class PlainInterceptor final : public RequestInterceptor {};

TEST(RequestInterceptorTest, DefaultsPassRequestsThroughAndNeverRetry) {
  auto interceptor = std::make_shared<PlainInterceptor>();
  platform::URLRequest request(platform::URL::parse("https://h.example/a?b=1"));
  request.httpMethod = "POST";
  request.setValue("v", "X-Mark");
  request.httpBody = "body";

  int adaptCalls = 0;
  std::optional<platform::URLRequest> adapted;
  // The session calls the state form; by default it lands in the plain form.
  RequestAdapter& adapter = *interceptor;
  adapter.adapt(request, RequestAdapterState{platform::UUID(), nullptr},
                [&](Result<platform::URLRequest> result) {
                  ++adaptCalls;
                  adapted = result.success();
                });
  EXPECT_EQ(adaptCalls, 1);
  EXPECT_EQ(adapted, request);

  int retryCalls = 0;
  std::optional<RetryResult::Kind> answer;
  interceptor->retry(nullptr, nullptr, HTTPError::sessionTaskFailed(nullptr),
                     [&](RetryResult result) {
                       ++retryCalls;
                       answer = result.kind();
                     });
  EXPECT_EQ(retryCalls, 1);
  EXPECT_EQ(answer, RetryResult::Kind::doNotRetry);
}

}  // namespace
}  // namespace tolvane::http
