#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>

#include "HTTP/Core/Session.h"
#include "HTTP/Core/SessionTestSupport.h"
#include "HTTP/Response/ResponseHandlers.h"
#include "Platform/URLError.h"

namespace tolvane::test {
namespace {

using http::HTTPError;

constexpr std::size_t kLimit = 1000;

constexpr std::size_t kHuge = 64 * 1024 * 1024;

// Serves "/announced/N" with a Content-Length and "/chunked/N" without one, N bytes each in
// pieces of 100, and counts the bytes that left the server. Plain HTTP, so that a client
// that goes away ends the server's writes at once and the count means something.
class BodyLimitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const bool announced : {true, false}) {
      for (const std::size_t size : {kLimit, kLimit + 1, 3 * kLimit, kHuge}) {
        server_.servePieces((announced ? "/announced/" : "/chunked/") + std::to_string(size), size,
                            announced, 100, sent_);
      }
    }
  }

  http::DataResponse<platform::Data> fetch(const std::string& path,
                                           std::optional<std::int64_t> limit = kLimit) {
    auto request = session_->request(
        server_.url(path), http::HTTPMethod::get, std::nullopt, nullptr, std::nullopt, nullptr,
        [limit](platform::URLRequest& urlRequest) -> platform::ErrorPtr {
          urlRequest.maximumBodyLength = limit;
          return nullptr;
        });
    auto delivered = std::make_shared<std::promise<http::DataResponse<platform::Data>>>();
    auto future = delivered->get_future();
    http::responseData(request, queue_,
                       [delivered](const auto& response) { delivered->set_value(response); });
    if (future.wait_for(std::chrono::seconds(30)) != std::future_status::ready)
      throw std::runtime_error("no response");
    return future.get();
  }

  // A refused body is reported the way an undecodable one is, carrying the transport's code.
  template <typename Value>
  static void expectRefused(const http::DataResponse<Value>& response) {
    ASSERT_TRUE(response.result.isFailure());
    const HTTPError& error = response.result.error();
    ASSERT_TRUE(error.responseSerializationReason()) << error.localizedDescription();
    EXPECT_EQ(error.responseSerializationReason()->kind,
              HTTPError::ResponseSerializationFailureReason::Kind::decodingFailed);
    const auto* transport = dynamic_cast<const platform::URLError*>(error.underlyingError().get());
    ASSERT_TRUE(transport);
    EXPECT_EQ(transport->code(), platform::URLError::dataLengthExceedsMaximum);
    EXPECT_FALSE(response.data);
  }

  LoopbackServer server_{LoopbackServer::plainHTTP()};
  std::shared_ptr<http::Session> session_ = http::Session::make();
  std::shared_ptr<platform::DispatchQueue> queue_ =
      platform::DispatchQueue::make("test.body-limit");
  std::shared_ptr<std::atomic<std::size_t>> sent_ = std::make_shared<std::atomic<std::size_t>>(0);
};

TEST_F(BodyLimitTest, BodyOfExactlyTheLimitPassesOneByteMoreIsRefused) {
  for (const std::string kind : {"/announced/", "/chunked/"}) {
    SCOPED_TRACE(kind);
    const auto atLimit = fetch(kind + std::to_string(kLimit));
    ASSERT_TRUE(atLimit.result.isSuccess()) << atLimit.result.error().localizedDescription();
    EXPECT_TRUE(atLimit.result.value() == patternBytes(kLimit));

    expectRefused(fetch(kind + std::to_string(kLimit + 1)));
  }
}

TEST_F(BodyLimitTest, ReadingStopsEarlyAndRequestsWithoutALimitAreUnaffected) {
  expectRefused(fetch("/chunked/" + std::to_string(kHuge)));
  // Whatever the sockets buffered, far from the whole body.
  EXPECT_LT(sent_->load(), kHuge / 4);

  const auto unlimited = fetch("/chunked/" + std::to_string(3 * kLimit), std::nullopt);
  ASSERT_TRUE(unlimited.result.isSuccess());
  EXPECT_EQ(unlimited.result.value().size(), 3 * static_cast<std::size_t>(kLimit));
}

TEST_F(BodyLimitTest, ThePlainHandlerReportsARefusedBody) {
  auto request = session_->request(
      server_.url("/announced/" + std::to_string(kLimit + 1)), http::HTTPMethod::get, std::nullopt,
      nullptr, std::nullopt, nullptr, [](platform::URLRequest& urlRequest) -> platform::ErrorPtr {
        urlRequest.maximumBodyLength = kLimit;
        return nullptr;
      });
  auto plain = std::make_shared<std::promise<http::DataResponse<std::optional<platform::Data>>>>();
  http::response(request, queue_, [plain](const auto& response) { plain->set_value(response); });
  expectRefused(plain->get_future().get());
}

}  // namespace
}  // namespace tolvane::test
