#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "EndToEnd/HeadlessRunFixture.h"
#include "Support/BuildPaths.h"
#include "Support/NginxServer.h"
#include "Support/TestCertificate.h"

// A release as operators host it: published with `tolvane-update-server publish` into a
// folder that nginx serves as static files.
namespace tolvane::test {
namespace {

namespace fs = std::filesystem;

const fs::path kUpdateServer = test::buildFolder() / "bin" / "tolvane-update-server";
// The endpoint path carries os=macos and the request adds the same parameter again.
const std::string kManifestRequest = "GET /loaderv3.php?os=macos&os=macos 200";

class NginxReleaseTest : public HeadlessRunTest {
 protected:
  void SetUp() override {
    if (const auto reason = NginxServer::skipReason(); !reason.empty()) GTEST_SKIP() << reason;
    HeadlessRunTest::SetUp();
    ASSERT_TRUE(fs::exists(kUpdateServer)) << kUpdateServer << " is not built";
    fs::create_directories(release_);
    nginx_ = std::make_unique<NginxServer>(release_);
    home_.setEnvironment("TOLVANE_UPDATE_ORIGIN", nginx_->url(""));
  }

  void publishJar(const std::string& path, const std::string& body) {
    const fs::path jarFile = home_.root() / "upload.jar";
    writeFile(jarFile, body);
    platform::Process publish(
        kUpdateServer, {"publish", jarFile.string(), "--root", release_.string(), "--path", path});
    publish.run();
    ASSERT_TRUE(publish.waitUntilExit().succeeded());
  }

  // Requests nginx answered since the last call.
  std::vector<std::string> newRequests() {
    auto all = nginx_->requests();
    std::vector<std::string> fresh(all.begin() + static_cast<std::ptrdiff_t>(seen_), all.end());
    seen_ = all.size();
    return fresh;
  }

  const fs::path release_ = home_.root() / "release";
  std::unique_ptr<NginxServer> nginx_;
  std::size_t seen_ = 0;
};

TEST_F(NginxReleaseTest, InstallsKeepsAndUpdates) {
  publishJar("files/Tolvane-1.jar", "launcher v1");
  expectLaunched(runInstaller(), kInstalling);
  EXPECT_EQ(readFile(jar()), "launcher v1");
  EXPECT_EQ(newRequests(),
            (std::vector<std::string>{kManifestRequest, "GET /files/Tolvane-1.jar 200"}));

  // Unchanged manifest: no download request at all.
  expectLaunched(runInstaller(), kUpdating);
  EXPECT_EQ(newRequests(), std::vector<std::string>{kManifestRequest});

  publishJar("files/Tolvane-2.jar", "launcher v2");
  expectLaunched(runInstaller(), kUpdating);
  EXPECT_EQ(readFile(jar()), "launcher v2");
  EXPECT_EQ(newRequests(),
            (std::vector<std::string>{kManifestRequest, "GET /files/Tolvane-2.jar 200"}));
  ASSERT_TRUE(storedEntry());
  EXPECT_EQ(storedEntry()->path, "files/Tolvane-2.jar");
}

// nginx behind a connection that breaks: a relay on the test's own server passes each request
// for the jar on to nginx with its Range and If-Range, and nginx's status, validators and
// Content-Range back, but closes every response once 40 % of the file has gone through. So
// nginx's own answers to the continued attempts decide whether the installer resumes.
class NginxResumeTest : public HeadlessRunTest {
 protected:
  static constexpr std::size_t kSize = 1'000'000;

  void SetUp() override {
    if (const auto reason = NginxServer::skipReason(); !reason.empty()) GTEST_SKIP() << reason;
    fs::create_directories(release_ / "files");
    writeFile(release_ / "files" / "big.jar", body_);
    nginx_ = std::make_unique<NginxServer>(release_);
    // Ahead of the fixture's catch-all release route, which would otherwise answer.
    server_.get("/files/big.jar",
                [this](const httplib::Request& request, httplib::Response& response) {
                  relay(request, response);
                });
    HeadlessRunTest::SetUp();
    setManifest({{"files/big.jar", "hash-1", static_cast<std::int64_t>(kSize)}});
  }

  void relay(const httplib::Request& request, httplib::Response& response) {
    const_cast<httplib::Request&>(request).ranges.clear();  // nginx answers ranges, not us
    httplib::SSLClient client("127.0.0.1", nginx_->port());
    client.set_ca_cert_path(TestCertificate::shared().caFile().string());
    client.enable_server_certificate_verification(true);
    httplib::Headers headers;
    for (const char* name : {"Range", "If-Range"}) {
      if (request.has_header(name)) headers.emplace(name, request.get_header_value(name));
    }
    auto answer = client.Get("/files/big.jar", headers);
    if (!answer) {
      response.status = 502;
      return;
    }
    response.status = answer->status;
    for (const char* name : {"ETag", "Last-Modified", "Content-Range", "Accept-Ranges"}) {
      if (answer->has_header(name)) response.set_header(name, answer->get_header_value(name));
    }
    const std::size_t allowed = kSize * 4 / 10;
    const std::size_t length = answer->body.size();
    response.set_content_provider(
        length, "application/java-archive",
        [this, body = std::move(answer->body), allowed](std::size_t offset, std::size_t available,
                                                        httplib::DataSink& sink) {
          if (offset >= allowed) {
            // Let the bytes already written leave before the connection goes.
            server_.pause(std::chrono::milliseconds(50));
            return false;
          }
          const std::size_t chunk = std::min({available, allowed - offset, std::size_t{64 * 1024}});
          return sink.write(body.data() + offset, chunk);
        });
  }

  const fs::path release_ = home_.root() / "release";
  const std::string body_ = patternBytes(kSize, 7);
  std::unique_ptr<NginxServer> nginx_;
};

TEST_F(NginxResumeTest, ContinuesFromNginxRangesWithinOneRun) {
  expectLaunched(runInstaller(), kInstalling);
  EXPECT_EQ(readFile(jar()), body_);
  // A whole-file answer cut at 40 %, then two continuations nginx honoured with If-Range.
  EXPECT_EQ(nginx_->requests(),
            (std::vector<std::string>{"GET /files/big.jar 200", "GET /files/big.jar 206",
                                      "GET /files/big.jar 206"}));
}

}  // namespace
}  // namespace tolvane::test
