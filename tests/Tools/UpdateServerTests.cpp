#include "UpdateServer/UpdateServer.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <memory>
#include <sstream>
#include <string>

#include "Support/LoopbackServer.h"
#include "Support/TemporaryHome.h"
#include "Support/TestCertificate.h"
#include "UpdateServer/Publisher.h"
#include "UpdateServer/Tool.h"
#include "UpdateServer/ToolError.h"

namespace tolvane::tools {
namespace {

namespace fs = std::filesystem;
using test::patternBytes;
using test::readFile;
using test::writeFile;

// A published release served over HTTPS on 127.0.0.1, port 0, next to a file "secret"
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

  void startServer() {
    const auto& certificate = test::TestCertificate::shared().loopback();
    UpdateServer::Options options;
    options.root = root_;
    options.tls = UpdateServer::Tls{certificate.certificate, certificate.privateKey};
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

  test::TemporaryDirectory temp_;
  fs::path root_;
  std::string jar_;
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

TEST_F(UpdateServerTest, ManifestIsMissingUntilPublished) {
  fs::remove(root_ / "loaderv3.php");
  startServer();
  const auto response = get("/loaderv3.php?os=macos&os=macos");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 404);
}

TEST_F(UpdateServerTest, ServesTheFileWholeOrOneByteRange) {
  startServer();
  const std::uint64_t size = jar_.size();
  struct Case {
    std::string range;  // none sent when empty
    int status;
    std::uint64_t first;
    std::uint64_t last;
  };
  // One row per outcome; the forms of the header are resolved in ByteRange.
  for (const Case& c :
       {Case{"", 200, 0, size - 1}, Case{"bytes=0-1,4-5", 200, 0, size - 1},
        Case{"bytes=65530-200000", 206, 65530, 200000}, Case{"bytes=-5", 206, size - 5, size - 1},
        Case{"bytes=400000-", 416, 0, 0}}) {
    SCOPED_TRACE(c.range);
    httplib::Headers headers;
    if (!c.range.empty()) headers.emplace("Range", c.range);
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
  const auto post = client.Post("/launcher/Tolvane.jar", "x", "text/plain");
  ASSERT_TRUE(post);
  EXPECT_EQ(post->status, 405);
  EXPECT_EQ(post->get_header_value("Allow"), "GET, HEAD");
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

// The serve command as a whole, in-process: the line scripts read, the request log and usage
// errors (plain HTTP is served by the program test).
class ServeCommand : public UpdateServerTest {
 protected:
  int run(std::vector<std::string> arguments, const Tool::WaitForStop& whileServing) {
    Tool tool(out_, err_, whileServing);
    return tool.run(arguments);
  }
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(ServeCommand, PrintsTheOriginAndLogsEachRequest) {
  const auto& certificate = test::TestCertificate::shared().loopback();
  int served = -1;
  const int status =
      run({"serve", "--root", root_.string(), "--address", "127.0.0.1", "--port", "0", "--cert",
           certificate.certificate.string(), "--key", certificate.privateKey.string(), "--log"},
          [&](const UpdateServer& server) {
            port_ = std::stoi(server.origin().substr(server.origin().rfind(':') + 1));
            EXPECT_EQ(out_.str(), "listening on https://127.0.0.1:" + std::to_string(port_) + "\n");
            const auto manifest = get("/loaderv3.php?os=macos&os=macos");
            const auto missing = get("/nothing.jar");
            served = manifest && missing ? manifest->status * 1000 + missing->status : -1;
          });
  EXPECT_EQ(status, 0) << err_.str();
  EXPECT_EQ(served, 200404);
  EXPECT_EQ(err_.str(), "GET /loaderv3.php?os=macos&os=macos 200\nGET /nothing.jar 404\n");
}

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

}  // namespace
}  // namespace tolvane::tools
