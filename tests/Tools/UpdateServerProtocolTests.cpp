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
#include "Support/TemporaryHome.h"
#include "Support/TestCertificate.h"
#include "UpdateServer/Publisher.h"
#include "UpdateServer/UpdateServer.h"

namespace tolvane::tools {
namespace {

namespace fs = std::filesystem;
using test::writeFile;

// The running server as hostile or careless clients meet it, over plain HTTP on
// 127.0.0.1, port 0: what arrives on the wire, not what a parser would have said.
class UpdateServerProtocol : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = temp_.path() / "release";
    writeFile(temp_.path() / "Tolvane.jar", "launcher jar");
    Publisher(ReleaseFolder(root_)).publish(temp_.path() / "Tolvane.jar", "launcher/Tolvane.jar");
  }

  void startServer(UpdateServer::Limits limits = {}, bool tls = false) {
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

  // The request log, complete once the server has stopped.
  std::string stoppedLog() {
    server_->stop();
    return log_.str();
  }

  test::TemporaryDirectory temp_;
  fs::path root_;
  std::ostringstream log_;
  std::function<void()> beforeOpen_;
  std::unique_ptr<UpdateServer> server_;
  int port_ = 0;
};

struct ExchangeCase {
  const char* name;
  std::string request;
  std::string firstStatusLine;
  int responses;
  friend void PrintTo(const ExchangeCase& row, std::ostream* out) { *out << row.name; }
};

class Exchange : public UpdateServerProtocol, public ::testing::WithParamInterface<ExchangeCase> {};

TEST_P(Exchange, AnswersExactlyWhatWasAskedFor) {
  startServer();
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
        ExchangeCase{"chunked_with_a_length_is_refused",
                     "GET /loaderv3.php HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n"
                     "Content-Length: 5\r\n\r\n0\r\n\r\n" +
                         kSmuggled,
                     "HTTP/1.1 400 Bad Request", 1},
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

// A flood of small headers: refused once the head outgrows what a connection may hold,
// instead of being parsed into memory the server keeps.
TEST_F(UpdateServerProtocol, AHeadLargerThanAConnectionMayHoldIsRefused) {
  startServer();
  RawConnection connection(port_);
  std::string head = "GET /loaderv3.php HTTP/1.1\r\nHost: a\r\n";
  for (int i = 0; i < 4000; ++i) head += "X-" + std::to_string(i) + ": 1\r\n";
  connection.send(head + "\r\n");
  const std::string received = connection.readToEnd();
  EXPECT_EQ(received.substr(0, received.find("\r\n")),
            "HTTP/1.1 431 Request Header Fields Too Large")
      << received;
  // And the server still serves.
  httplib::Client client("127.0.0.1", port_);
  const auto response = client.Get("/loaderv3.php");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 200);
}

TEST_F(UpdateServerProtocol, StalledClientsDoNotDelayOthers) {
  startServer();
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
  EXPECT_EQ(response->body, "launcher jar");
}

struct StallCase {
  const char* name;
  bool tls;
  std::string head;  // sent at once, then a line every 20 ms when `trickle`
  bool trickle;
  friend void PrintTo(const StallCase& row, std::ostream* out) { *out << row.name; }
};

class RequestHeadDeadline : public UpdateServerProtocol,
                            public ::testing::WithParamInterface<StallCase> {};

TEST_P(RequestHeadDeadline, ClosesConnectionsThatNeverFinishTheirHead) {
  UpdateServer::Limits limits;
  limits.requestHead = std::chrono::milliseconds(200);
  startServer(limits, GetParam().tls);
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
    Stalls, RequestHeadDeadline,
    ::testing::Values(StallCase{"idle", false, "", false},
                      StallCase{"trickled_head", false, "GET / HTTP/1.1\r\n", true},
                      StallCase{"half_a_tls_handshake", true,
                                std::string("\x16\x03\x01\x02\x00", 5), false}),
    [](const ::testing::TestParamInfo<StallCase>& info) { return std::string(info.param.name); });

TEST_F(UpdateServerProtocol, LogsEveryTargetWithControlBytesEscaped) {
  startServer();
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
}

// An operator's script that swaps a folder of the release for a symbolic link leading
// out just after the server checked the name: what is sent is still only what is inside.
TEST_F(UpdateServerProtocol, AFolderSwappedForALinkAfterTheCheckLeaksNothing) {
  writeFile(temp_.path() / "outside" / "launcher" / "Tolvane.jar", "secret");
  beforeOpen_ = [this] {
    fs::rename(root_ / "launcher", root_ / "launcher.real");
    fs::create_directory_symlink(temp_.path() / "outside" / "launcher", root_ / "launcher");
  };
  startServer();
  httplib::Client client("127.0.0.1", port_);
  const auto response = client.Get("/launcher/Tolvane.jar");
  ASSERT_TRUE(response) << httplib::to_string(response.error());
  EXPECT_EQ(response->status, 400);
  EXPECT_EQ(response->body.find("secret"), std::string::npos);
}

}  // namespace
}  // namespace tolvane::tools
