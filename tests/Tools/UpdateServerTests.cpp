#include "UpdateServer/UpdateServer.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <functional>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "RawConnection.h"
#include "Support/LoopbackServer.h"
#include "Support/TemporaryHome.h"
#include "Support/TestCertificate.h"
#include "UpdateServer/Publisher.h"
#include "UpdateServer/Tool.h"
#include "UpdateServer/ToolError.h"

namespace tolvane::tools {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::patternBytes;
using test::readFile;
using test::writeFile;

// A published release served on 127.0.0.1, port 0, over HTTPS unless a test asks for plain
// HTTP (what hostile or careless clients send, read off the wire), next to a file "secret"
// outside the release folder that must never come back.
class UpdateServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = temp_.path() / "release";
    // Several of the server's read chunks, so ranges cross chunk borders.
    jar_ = patternBytes(300 * 1024 + 3, 1);
    writeFile(temp_.path() / "build" / "Tolvane.jar", jar_);
    Publisher(ReleaseFolder(root_))
        .publish(temp_.path() / "build" / "Tolvane.jar", "launcher/Tolvane.jar");
    writeFile(temp_.path() / "secret", "secret");
  }

  void startServer(bool tls = true, UpdateServer::Limits limits = {}) {
    UpdateServer::Options options;
    options.root = root_;
    options.log = &log_;
    options.limits = limits;
    options.beforeOpen = beforeOpen_;
    if (tls) {
      const auto& certificate = test::TestCertificate::shared().loopback();
      options.tls = UpdateServer::Tls{certificate.certificate, certificate.privateKey};
    }
    server_ = std::make_unique<UpdateServer>(options);
    port_ = server_->start();
  }

  // A verifying client: the test CA is the only trust anchor, and the target is
  // sent exactly as written (no normalisation, no encoding).
  httplib::Result get(const std::string& target, const httplib::Headers& headers = {}) {
    httplib::SSLClient client("127.0.0.1", port_);
    client.set_ca_cert_path(test::TestCertificate::shared().caFile().string());
    client.enable_server_certificate_verification(true);
    client.set_url_encode(false);
    client.set_connection_timeout(5);
    client.set_read_timeout(10);
    return client.Get(target, headers);
  }

  // The request log, complete once the server has stopped.
  std::string stoppedLog() {
    server_->stop();
    return log_.str();
  }

  test::TemporaryDirectory temp_;
  fs::path root_;
  std::string jar_;
  std::ostringstream log_;
  std::function<void()> beforeOpen_;
  std::unique_ptr<UpdateServer> server_;
  int port_ = 0;
};

TEST_F(UpdateServerTest, AnswersTheManifestForAnyQuery) {
  startServer();
  EXPECT_EQ(server_->origin(), "https://127.0.0.1:" + std::to_string(port_));
  for (const char* target :
       {"/loaderv3.php?os=macos&os=macos", "/loaderv3.php", "/loaderv3.php?x=%20"}) {
    SCOPED_TRACE(target);
    const auto response = get(target);
    ASSERT_TRUE(response) << httplib::to_string(response.error());
    EXPECT_EQ(response->status, 200);
    EXPECT_EQ(response->get_header_value("Content-Type"), "application/json");
    EXPECT_EQ(response->body, readFile(root_ / "loaderv3.php"));
  }
}

TEST_F(UpdateServerTest, ServesTheFileWholeOrOneByteRange) {
  startServer();
  const std::uint64_t size = jar_.size();
  struct Case {
    std::vector<std::string> ranges;  // one Range field each
    int status;
    std::uint64_t first;
    std::uint64_t last;
  };
  // One row per outcome; the forms of the header are resolved in ByteRange.
  for (const Case& c :
       {Case{{}, 200, 0, size - 1}, Case{{"bytes=0-1,4-5"}, 200, 0, size - 1},
        Case{{"bytes=0-1", "bytes=4-5"}, 200, 0, size - 1},
        Case{{"bytes=65530-200000"}, 206, 65530, 200000},
        Case{{"bytes=-5"}, 206, size - 5, size - 1}, Case{{"bytes=400000-"}, 416, 0, 0}}) {
    SCOPED_TRACE(::testing::PrintToString(c.ranges));
    httplib::Headers headers;
    for (const std::string& range : c.ranges) headers.emplace("Range", range);
    const auto response = get("/launcher/Tolvane.jar", headers);
    ASSERT_TRUE(response) << httplib::to_string(response.error());
    EXPECT_EQ(response->status, c.status);
    if (c.status == 416) {
      EXPECT_EQ(response->get_header_value("Content-Range"), "bytes */" + std::to_string(size));
      EXPECT_TRUE(response->body.empty());
      continue;
    }
    if (c.status == 206) {
      EXPECT_EQ(response->get_header_value("Content-Range"), "bytes " + std::to_string(c.first) +
                                                                 "-" + std::to_string(c.last) +
                                                                 "/" + std::to_string(size));
      EXPECT_EQ(response->get_header_value_count("Content-Range"), 1u);
    } else {
      EXPECT_EQ(response->get_header_value("Content-Length"), std::to_string(size));
      EXPECT_EQ(response->get_header_value("Content-Type"), "application/java-archive");
      EXPECT_EQ(response->get_header_value("Accept-Ranges"), "bytes");
    }
    EXPECT_TRUE(response->body == jar_.substr(c.first, c.last - c.first + 1));
  }
}

// A download resumed after a republish must start over: the part the client holds
// belongs to the file it replaced.
TEST_F(UpdateServerTest, ValidatorsDecideBetweenPartNotModifiedAndWholeFile) {
  startServer();
  const auto first = get("/launcher/Tolvane.jar");
  ASSERT_TRUE(first) << httplib::to_string(first.error());
  const std::string etag = first->get_header_value("ETag");
  ASSERT_EQ(etag.size() > 2 && etag.front() == '"' && etag.back() == '"', true) << etag;
  EXPECT_FALSE(first->get_header_value("Last-Modified").empty());

  const auto resumed = get("/launcher/Tolvane.jar", {{"Range", "bytes=100-"}, {"If-Range", etag}});
  ASSERT_TRUE(resumed);
  EXPECT_EQ(resumed->status, 206);
  const auto unchanged = get("/launcher/Tolvane.jar", {{"If-None-Match", "\"x\", W/" + etag}});
  ASSERT_TRUE(unchanged);
  EXPECT_EQ(unchanged->status, 304);
  EXPECT_TRUE(unchanged->body.empty());

  const std::string newer = patternBytes(jar_.size(), 2);
  writeFile(temp_.path() / "build" / "Tolvane.jar", newer);
  Publisher(ReleaseFolder(root_))
      .publish(temp_.path() / "build" / "Tolvane.jar", "launcher/Tolvane.jar");
  for (const httplib::Headers& headers :
       {httplib::Headers{{"Range", "bytes=100-"}, {"If-Range", etag}},
        httplib::Headers{{"Range", "bytes=100-"}, {"If-Range", "W/" + etag}},
        httplib::Headers{{"If-None-Match", etag}}}) {
    SCOPED_TRACE(headers.begin()->second);
    const auto response = get("/launcher/Tolvane.jar", headers);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 200);
    EXPECT_TRUE(response->body == newer);
    EXPECT_NE(response->get_header_value("ETag"), etag);
  }
}

TEST_F(UpdateServerTest, HeadAnswersTheHeadersOfGet) {
  startServer();
  httplib::SSLClient client("127.0.0.1", port_);
  client.set_ca_cert_path(test::TestCertificate::shared().caFile().string());
  const auto response = client.Head("/launcher/Tolvane.jar");
  ASSERT_TRUE(response) << httplib::to_string(response.error());
  EXPECT_EQ(response->status, 200);
  EXPECT_EQ(response->get_header_value("Content-Length"), std::to_string(jar_.size()));
  EXPECT_TRUE(response->body.empty());
}

TEST_F(UpdateServerTest, DecodesPercentEncodedNames) {
  writeFile(root_ / "лаунчер" / "Мой файл.jar", "named jar");
  startServer();
  const auto response =
      get("/%D0%BB%D0%B0%D1%83%D0%BD%D1%87%D0%B5%D1%80/%D0%9C%D0%BE%D0%B9%20%D1%84%D0%B0%D0%B9"
          "%D0%BB.jar");
  ASSERT_TRUE(response) << httplib::to_string(response.error());
  EXPECT_EQ(response->status, 200);
  EXPECT_EQ(response->body, "named jar");
}

TEST_F(UpdateServerTest, NeverServesFilesOutsideTheFolder) {
  startServer();
  // Decoded first, then refused: the paths themselves are tried on ReleaseFolder.
  for (const char* target : {"/%2e%2e/secret", "/launcher%2F..%2F..%2Fsecret"}) {
    SCOPED_TRACE(target);
    const auto response = get(target);
    ASSERT_TRUE(response) << httplib::to_string(response.error());
    EXPECT_EQ(response->status, 400);
    EXPECT_EQ(response->body.find("secret"), std::string::npos);
  }
}

// What a publish killed with SIGKILL leaves until the next one sweeps it.
TEST_F(UpdateServerTest, NeverServesDotfiles) {
  writeFile(root_ / "launcher" / ".Tolvane.jar.publishing-Ab12Cd", jar_.substr(0, 1000));
  startServer();
  const auto response = get("/launcher/.Tolvane.jar.publishing-Ab12Cd");
  ASSERT_TRUE(response) << httplib::to_string(response.error());
  EXPECT_EQ(response->status, 404);
}

// The serve command in-process: usage errors and failures to start (a whole serving run,
// with its origin line and request log, is the program test).
class ServeCommand : public UpdateServerTest {
 protected:
  int run(std::vector<std::string> arguments, const Tool::WaitForStop& whileServing) {
    Tool tool(out_, err_, whileServing);
    return tool.run(arguments);
  }
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(ServeCommand, BadUsageExitsWithStatusTwoWithoutServing) {
  const auto& certificate = test::TestCertificate::shared().loopback();
  const auto neverServe = [](const UpdateServer&) { ADD_FAILURE() << "served"; };
  const std::string cert = certificate.certificate.string();
  const std::string key = certificate.privateKey.string();
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {"serve", "--http"},
           {"serve", "--root", root_.string(), "--cert", cert},
           {"serve", "--root", root_.string(), "--http", "--cert", cert, "--key", key},
           {"serve", "--root", root_.string(), "--http", "--port", "65536"},
           {"serve", "--root", root_.string(), "--http", "extra"},
           {"serve", "--root", root_.string(), "--http", "--address", ""},
           {"launch"},
           {}}) {
    SCOPED_TRACE(::testing::PrintToString(arguments));
    EXPECT_EQ(run(arguments, neverServe), 2);
  }
  EXPECT_TRUE(out_.str().empty()) << out_.str();
}

TEST_F(ServeCommand, AnUnreadableCertificateOrAPortInUseFailsWithStatusOne) {
  const auto neverServe = [](const UpdateServer&) { ADD_FAILURE() << "served"; };
  EXPECT_EQ(run({"serve", "--root", root_.string(), "--cert", (temp_.path() / "none.pem").string(),
                 "--key", (temp_.path() / "none.key").string()},
                neverServe),
            1);
  EXPECT_NE(err_.str().find("none.pem"), std::string::npos) << err_.str();
  EXPECT_EQ(run({"serve", "--root", (temp_.path() / "no release").string(), "--http"}, neverServe),
            1);
  EXPECT_NE(err_.str().find("no release\" does not exist"), std::string::npos) << err_.str();

  UpdateServer::Options options;
  options.root = root_;
  UpdateServer first(options);
  const int port = first.start();
  EXPECT_EQ(run({"serve", "--root", root_.string(), "--http", "--port", std::to_string(port)},
                neverServe),
            1);
}

struct ExchangeCase {
  const char* name;
  std::string request;
  std::string firstStatusLine;
  int responses;
  friend void PrintTo(const ExchangeCase& row, std::ostream* out) { *out << row.name; }
};

class Exchange : public UpdateServerTest, public ::testing::WithParamInterface<ExchangeCase> {};

TEST_P(Exchange, AnswersExactlyWhatWasAskedFor) {
  startServer(false);
  RawConnection connection(port_);
  ASSERT_TRUE(connection.send(GetParam().request));
  const std::string received = connection.readToEnd();
  EXPECT_EQ(received.substr(0, received.find("\r\n")), GetParam().firstStatusLine) << received;
  EXPECT_EQ(responseCount(received), GetParam().responses) << received;
}

const std::string kSmuggled = "GET /launcher/Tolvane.jar HTTP/1.1\r\nHost: a\r\n\r\n";

INSTANTIATE_TEST_SUITE_P(
    Requests, Exchange,
    ::testing::Values(
        ExchangeCase{"pipelined_requests_are_both_answered",
                     "GET /loaderv3.php HTTP/1.1\r\nHost: a\r\n\r\n"
                     "GET /launcher/Tolvane.jar HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n",
                     "HTTP/1.1 200 OK", 2},
        ExchangeCase{"body_of_a_get_is_not_a_request",
                     "GET /loaderv3.php HTTP/1.1\r\nHost: a\r\nContent-Length: " +
                         std::to_string(kSmuggled.size()) + "\r\n\r\n" + kSmuggled +
                         "GET /loaderv3.php HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n",
                     "HTTP/1.1 200 OK", 2},
        ExchangeCase{"conflicting_lengths_are_refused",
                     "GET /loaderv3.php HTTP/1.1\r\nHost: a\r\nContent-Length: 0\r\n"
                     "Content-Length: " +
                         std::to_string(kSmuggled.size()) + "\r\n\r\n" + kSmuggled,
                     "HTTP/1.1 400 Bad Request", 1},
        ExchangeCase{"chunked_in_any_case_is_read_and_dropped",
                     "GET /loaderv3.php HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: Chunked\r\n\r\n" +
                         [] {
                           std::ostringstream chunk;
                           chunk << std::hex << kSmuggled.size() << "\r\n" << kSmuggled;
                           return chunk.str();
                         }() +
                         "\r\n0\r\n\r\n"
                         "GET /loaderv3.php HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n",
                     "HTTP/1.1 200 OK", 2},
        ExchangeCase{"chunked_with_a_length_is_refused",
                     "GET /loaderv3.php HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n"
                     "Content-Length: 5\r\n\r\n0\r\n\r\n" +
                         kSmuggled,
                     "HTTP/1.1 400 Bad Request", 1},
        ExchangeCase{"a_coding_before_chunked_is_not_implemented",
                     "GET /loaderv3.php HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: gzip, chunked\r\n"
                     "\r\n0\r\n\r\n" +
                         kSmuggled,
                     "HTTP/1.1 501 Not Implemented", 1},
        ExchangeCase{
            "a_body_not_ending_chunked_is_refused",
            "GET /loaderv3.php HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: bogus\r\n\r\n" + kSmuggled,
            "HTTP/1.1 400 Bad Request", 1},
        ExchangeCase{"a_declared_body_over_the_limit_is_refused_unread",
                     "GET /loaderv3.php HTTP/1.1\r\nHost: a\r\nContent-Length: 65537\r\n\r\n",
                     "HTTP/1.1 413 Content Too Large", 1},
        ExchangeCase{"a_chunked_body_over_the_limit_is_refused_at_its_end",
                     "GET /loaderv3.php HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n" +
                         std::string("10001\r\n") + std::string(0x10001, 'a') + "\r\n0\r\n\r\n" +
                         kSmuggled,
                     "HTTP/1.1 413 Content Too Large", 1},
        ExchangeCase{"http_1_1_without_host_is_refused",
                     "GET /loaderv3.php HTTP/1.1\r\n\r\n" + kSmuggled, "HTTP/1.1 400 Bad Request",
                     1},
        ExchangeCase{"two_hosts_are_refused",
                     "GET /loaderv3.php HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n" + kSmuggled,
                     "HTTP/1.1 400 Bad Request", 1},
        ExchangeCase{"http_1_0_needs_no_host", "GET /loaderv3.php HTTP/1.0\r\n\r\n",
                     "HTTP/1.1 200 OK", 1},
        ExchangeCase{
            "other_methods_are_not_allowed",
            "DELETE /launcher/Tolvane.jar HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n",
            "HTTP/1.1 405 Method Not Allowed", 1},
        ExchangeCase{"too_many_headers_are_refused",
                     [] {
                       std::string request = "GET /loaderv3.php HTTP/1.1\r\nHost: a\r\n";
                       for (int i = 0; i < 150; ++i)
                         request += "X-" + std::to_string(i) + ": 1\r\n";
                       return request + "Connection: close\r\n\r\n";
                     }(),
                     "HTTP/1.1 431 Request Header Fields Too Large", 1}),
    [](const ::testing::TestParamInfo<ExchangeCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(UpdateServerTest, StalledClientsDoNotDelayOthers) {
  startServer(false);
  // Sixteen connections that hold a request head open: half send nothing, half a line
  // at a time.
  std::vector<std::unique_ptr<RawConnection>> stalled;
  for (int i = 0; i < 16; ++i) {
    stalled.push_back(std::make_unique<RawConnection>(port_));
    if (i % 2 == 0) {
      stalled.back()->send("GET /loaderv3.php HTTP/1.1\r\nHost: a\r\n");
    }
  }
  std::atomic<bool> done = false;
  std::thread trickle([&] {
    while (!done) {
      for (std::size_t i = 0; i < stalled.size(); i += 2) stalled[i]->send("X-Slow: 1\r\n");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  httplib::Client client("127.0.0.1", port_);
  client.set_connection_timeout(5);
  client.set_read_timeout(5);
  const auto response = client.Get("/launcher/Tolvane.jar");
  done = true;
  trickle.join();
  ASSERT_TRUE(response) << httplib::to_string(response.error());
  EXPECT_TRUE(response->body == jar_);
}

struct StallCase {
  const char* name;
  bool tls;
  std::string head;  // sent at once, then a line every 20 ms when `trickle`
  bool trickle;
  friend void PrintTo(const StallCase& row, std::ostream* out) { *out << row.name; }
};

class RequestDeadline : public UpdateServerTest, public ::testing::WithParamInterface<StallCase> {};

TEST_P(RequestDeadline, ClosesConnectionsThatNeverFinishTheirRequest) {
  UpdateServer::Limits limits;
  limits.request = std::chrono::milliseconds(200);
  startServer(GetParam().tls, limits);
  RawConnection connection(port_);
  connection.send(GetParam().head);
  bool closed = false;
  // Fifteen times the deadline, and still short of the 5 s a per-read time-out allows.
  for (int i = 0; i < 150 && !closed; ++i) {
    if (GetParam().trickle) {
      connection.send("X-Slow: 1\r\n");
    }
    closed = connection.closedWithin(20);
  }
  EXPECT_TRUE(closed);
}

INSTANTIATE_TEST_SUITE_P(
    Stalls, RequestDeadline,
    ::testing::Values(StallCase{"idle", false, "", false},
                      StallCase{"trickled_head", false, "GET / HTTP/1.1\r\n", true},
                      StallCase{"trickled_body", false,
                                "GET / HTTP/1.1\r\nHost: a\r\nContent-Length: 60000\r\n\r\n", true},
                      StallCase{"half_a_tls_handshake", true,
                                std::string("\x16\x03\x01\x02\x00", 5), false}),
    [](const ::testing::TestParamInfo<StallCase>& info) { return std::string(info.param.name); });

TEST_F(UpdateServerTest, LogsEveryTargetWholeWithControlBytesEscaped) {
  startServer(false);
  {
    // The library hands the target over cut at a raw NUL: "/launcher/Tolvane.jar".
    RawConnection connection(port_);
    connection.send("GET /launcher/Tolvane.jar\0/../../secret HTTP/1.1\r\nHost: a\r\n\r\n"s);
    const std::string received = connection.readToEnd();
    EXPECT_EQ(received.substr(0, received.find("\r\n")), "HTTP/1.1 400 Bad Request");
  }
  {
    RawConnection connection(port_);
    connection.send("GET /a\x1b[31m.jar HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n");
    connection.readToEnd();
  }
  {
    RawConnection connection(port_);
    connection.send("GET /refused\x1b.jar HTTP/1.1\r\nHost: a\r\nX-Flood: " +
                    std::string(48 * 1024, 'a'));
    connection.readToEnd();
  }
  const std::string log = stoppedLog();
  EXPECT_EQ(log.find('\x1b'), std::string::npos) << log;
  EXPECT_NE(log.find("GET /a\\x1B[31m.jar 404\n"), std::string::npos) << log;
  EXPECT_NE(log.find("- /refused\\x1B.jar 431\n"), std::string::npos) << log;
  EXPECT_NE(log.find("GET /launcher/Tolvane.jar\\x00/../../secret 400\n"), std::string::npos)
      << log;
}

// Past the connection limit a client waits in the listening socket's queue, and is served
// once a slot frees, here when the stalled request holding it runs out of time.
TEST_F(UpdateServerTest, AConnectionOverTheLimitWaitsForASlot) {
  UpdateServer::Limits limits;
  limits.connections = 1;
  limits.request = std::chrono::milliseconds(300);
  startServer(false, limits);
  RawConnection stalled(port_);
  httplib::Client client("127.0.0.1", port_);
  client.set_read_timeout(5);
  const auto response = client.Get("/loaderv3.php");
  ASSERT_TRUE(response) << httplib::to_string(response.error());
  EXPECT_EQ(response->status, 200);
  EXPECT_TRUE(stalled.closedWithin(0));
}

// An operator's script that swaps a folder of the release for a symbolic link leading
// out just after the server checked the name: what is sent is still only what is inside.
TEST_F(UpdateServerTest, AFolderSwappedForALinkAfterTheCheckLeaksNothing) {
  writeFile(temp_.path() / "outside" / "launcher" / "Tolvane.jar", "secret");
  beforeOpen_ = [this] {
    fs::rename(root_ / "launcher", root_ / "launcher.real");
    fs::create_directory_symlink(temp_.path() / "outside" / "launcher", root_ / "launcher");
  };
  startServer(false);
  httplib::Client client("127.0.0.1", port_);
  const auto response = client.Get("/launcher/Tolvane.jar");
  ASSERT_TRUE(response) << httplib::to_string(response.error());
  EXPECT_EQ(response->status, 400);
  EXPECT_EQ(response->body.find("secret"), std::string::npos);
}

}  // namespace
}  // namespace tolvane::tools
