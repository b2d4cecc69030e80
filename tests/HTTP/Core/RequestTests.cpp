#include "HTTP/Core/Request.h"

#include <gtest/gtest.h>

#include "HTTP/Core/SessionTestSupport.h"

namespace tolvane::test {
namespace {

using http::Request;

TEST(DataRequestTest, ABodylessResponseKeepsNoBodyAndProgressFollowsTheBody) {
  LoopbackServer server(LoopbackServer::plainHTTP());
  server.get("/empty", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
  server.dripFeed("/drip", 3000, 1000, 20ms);
  server.start();
  auto monitor = std::make_shared<RecordingMonitor>();
  auto session = makeSession(monitor);

  ResponseCollector empty;
  auto bodyless = session->request(server.url("/empty"));
  empty.attach(bodyless);
  auto response = empty.wait();
  EXPECT_FALSE(response.error().has_value());
  EXPECT_FALSE(response.data.has_value());
  EXPECT_FALSE(bodyless->data().has_value());

  ResponseCollector dripped;
  auto request = session->request(server.url("/drip"));
  auto seen =
      std::make_shared<platform::Protected<std::vector<std::pair<std::int64_t, std::int64_t>>>>();
  request->downloadProgress(
      platform::DispatchQueue::make("test.progress"), [seen](const Request::Progress& progress) {
        seen->write([&](auto& list) {
          list.emplace_back(progress.completedUnitCount(), progress.totalUnitCount());
        });
      });
  dripped.attach(request);
  EXPECT_EQ(dripped.wait().data->size(), 3000u);
  ASSERT_TRUE(waitUntil([&] {
    return seen->read([](const auto& l) { return !l.empty() && l.back().first == 3000; });
  }));
  for (const auto& [completed, total] : seen->get()) EXPECT_EQ(total, 3000);
  EXPECT_EQ(request->downloadProgress()->fractionCompleted(), 1.0);
}

}  // namespace
}  // namespace tolvane::test
