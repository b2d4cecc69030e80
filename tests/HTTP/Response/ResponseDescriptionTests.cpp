#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "HTTP/Response/DataResponse.h"
#include "HTTP/Response/DownloadResponse.h"
#include "HTTP/Response/Empty.h"

namespace tolvane::http {
namespace {

using namespace std::chrono_literals;
using platform::Data;
using platform::HTTPURLResponse;
using platform::URL;
using platform::URLRequest;

URLRequest manifestRequest() {
  URLRequest request(URL::parse("https://127.0.0.1/manifest?os=macos"));
  request.setValue("T/1", "User-Agent");
  request.setValue("application/json", "Accept");
  return request;
}

std::shared_ptr<const HTTPURLResponse> makeResponse(int status, platform::HeaderFields headers) {
  return std::make_shared<const HTTPURLResponse>(
      HTTPURLResponse{*URL::parse("https://127.0.0.1/manifest?os=macos"), status,
                      std::move(headers), -1, std::nullopt, std::nullopt, "m"});
}

std::shared_ptr<const HTTPURLResponse> jsonResponse() {
  return makeResponse(200, {{"Content-Type", "application/json"}, {"Content-Length", "13"}});
}

platform::URLSessionTaskMetrics quarterSecond() {
  platform::URLSessionTaskMetrics metrics;
  metrics.taskIntervalDuration = 250ms;
  return metrics;
}

TEST(ResponseDescriptionTest, DataResponseListsEveryPart) {
  const DataResponse<Empty> response{manifestRequest(),
                                     jsonResponse(),
                                     Data("\n {\"files\": []}\n"),
                                     quarterSecond(),
                                     0.5,
                                     Empty()};
  EXPECT_EQ(response.debugDescription(),
            "[Request]: GET https://127.0.0.1/manifest?os=macos\n"
            "    [Headers]:\n"
            "        Accept: application/json\n"
            "        User-Agent: T/1\n"
            "    [Body]: None\n"
            "[Response]:\n"
            "    [Status Code]: 200\n"
            "    [Headers]:\n"
            "        Content-Length: 13\n"
            "        Content-Type: application/json\n"
            "    [Body]:\n"
            "        {\"files\": []}\n"
            "[Network Duration]: 0.25s\n"
            "[Serialization Duration]: 0.5s\n"
            "[Result]: success(Empty())");
}

TEST(ResponseDescriptionTest, BodiesThatAreNotTextShowTheirSize) {
  URLRequest upload = manifestRequest();
  upload.httpMethod = "POST";
  upload.allHTTPHeaderFields = {};
  upload.httpBody = Data("\x01\x02\x03", 3);
  const auto binary = makeResponse(500, {});
  const DataResponse<Data> response{upload,       binary, Data(100'001, 'x'),
                                    std::nullopt, 0,      HTTPError::explicitlyCancelled()};
  EXPECT_EQ(response.debugDescription(),
            "[Request]: POST https://127.0.0.1/manifest?os=macos\n"
            "    [Headers]: None\n"
            "    [Body]: 3 bytes\n"
            "[Response]:\n"
            "    [Status Code]: 500\n"
            "    [Headers]: None\n"
            "    [Body]: 100001 bytes\n"
            "[Network Duration]: None\n"
            "[Serialization Duration]: 0.0s\n"
            "[Result]: failure(Request explicitly cancelled.)");
}

TEST(ResponseDescriptionTest, DownloadResponseNamesFileAndResumeData) {
  const DownloadResponse<std::optional<URL>> response{
      manifestRequest(),
      nullptr,
      URL::fileURL("/tmp/x/Tolvane.jar"),
      Data("12345"),
      quarterSecond(),
      0,
      std::optional<URL>(URL::fileURL("/tmp/x/Tolvane.jar"))};
  EXPECT_EQ(response.debugDescription(),
            "[Request]: GET https://127.0.0.1/manifest?os=macos\n"
            "    [Headers]:\n"
            "        Accept: application/json\n"
            "        User-Agent: T/1\n"
            "    [Body]: None\n"
            "[Response]: None\n"
            "[File URL]: /tmp/x/Tolvane.jar\n"
            "[Resume Data]: 5 bytes\n"
            "[Network Duration]: 0.25s\n"
            "[Serialization Duration]: 0.0s\n"
            "[Result]: success(Optional(file:///tmp/x/Tolvane.jar))");
}

TEST(ResponseDescriptionTest, WithoutARequestOnlyTheResultIsShown) {
  const DataResponse<Data> data{std::nullopt,
                                jsonResponse(),
                                Data("{}"),
                                quarterSecond(),
                                1,
                                HTTPError::explicitlyCancelled()};
  EXPECT_EQ(data.debugDescription(),
            "[Request]: None\n[Result]: failure(Request explicitly cancelled.)");
  const DownloadResponse<URL> download{std::nullopt, nullptr, std::nullopt,        std::nullopt,
                                       std::nullopt, 0,       URL::fileURL("/a b")};
  EXPECT_EQ(download.debugDescription(), "[Request]: None\n[Result]: success(file:///a%20b)");
}

}  // namespace
}  // namespace tolvane::http
