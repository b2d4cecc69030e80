#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "EndToEnd/HeadlessRunFixture.h"
#include "Support/BuildPaths.h"
#include "Support/Minisign.h"
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

  // With `signer`, the jar is published with its minisign signature, checked by the tool.
  void publishJar(const std::string& path, const std::string& body,
                  const MinisignKey* signer = nullptr) {
    const fs::path jarFile = home_.root() / "upload.jar";
    writeFile(jarFile, body);
    std::vector<std::string> arguments = {"publish",         jarFile.string(), "--root",
                                          release_.string(), "--path",         path};
    if (signer != nullptr) {
      arguments.insert(arguments.end(), {"--signature", signer->sign(jarFile).string(),
                                         "--public-key", signer->publicKey()});
    }
    platform::Process publish(kUpdateServer, arguments);
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
  publishJar("files/Tolvane-1.jar", kVersionOne);
  expectLaunched(runInstaller(), kInstalling);
  EXPECT_EQ(readFile(jar()), kVersionOne);
  EXPECT_EQ(newRequests(),
            (std::vector<std::string>{kManifestRequest, "GET /files/Tolvane-1.jar 200"}));

  // Unchanged manifest: no download request at all.
  expectLaunched(runInstaller(), kUpdating);
  EXPECT_EQ(newRequests(), std::vector<std::string>{kManifestRequest});

  publishJar("files/Tolvane-2.jar", kVersionTwo);
  expectLaunched(runInstaller(), kUpdating);
  EXPECT_EQ(readFile(jar()), kVersionTwo);
  EXPECT_EQ(newRequests(),
            (std::vector<std::string>{kManifestRequest, "GET /files/Tolvane-2.jar 200"}));
  ASSERT_TRUE(storedEntry());
  EXPECT_EQ(storedEntry()->path, "files/Tolvane-2.jar");
}

// Signed releases on nginx: without keys the installer never asks for a signature; once an
// installer with the key runs, the jar from before is fetched again with its signature and
// verified, and from then on it is started without asking for anything more, offline too.
TEST_F(NginxReleaseTest, AJarFromBeforeTheKeysIsReplacedByAVerifiedOne) {
  fs::create_directories(home_.root() / "keys");
  const MinisignKey key(home_.root() / "keys", "release");
  publishJar("files/Tolvane-1.jar", kVersionOne, &key);
  expectLaunched(runInstaller(), kInstalling);
  EXPECT_EQ(newRequests(),
            (std::vector<std::string>{kManifestRequest, "GET /files/Tolvane-1.jar 200"}));

  home_.setEnvironment("TOLVANE_RELEASE_PUBLIC_KEYS", key.publicKey());
  expectLaunched(runInstaller(), kInstalling);
  EXPECT_EQ(readFile(jar()), kVersionOne);
  EXPECT_EQ(newRequests(),
            (std::vector<std::string>{kManifestRequest, "GET /files/Tolvane-1.jar.minisig 200",
                                      "GET /files/Tolvane-1.jar 200"}));

  expectLaunched(runInstaller(), kUpdating);
  EXPECT_EQ(newRequests(), std::vector<std::string>{kManifestRequest});
  takeServerDown();
  expectLaunched(runInstaller(), kUpdating);
  EXPECT_EQ(newRequests(), std::vector<std::string>{});
}

// nginx behind a connection that breaks: a relay on the test's own server passes each request
// for the jar on to nginx with its Range and If-Range, and nginx's status, validators and
// Content-Range back, but closes responses (all, or the first `cutLimit_`) once 40 % of the
// file has gone through. So nginx's own answers to the continued attempts decide whether the
// installer resumes.
class NginxResumeTest : public HeadlessRunTest {
 protected:
  static constexpr std::size_t kSize = 1'000'000;

  void SetUp() override {
    if (const auto reason = NginxServer::skipReason(); !reason.empty()) GTEST_SKIP() << reason;
    fs::create_directories(release_ / "files");
    writeFile(releasedJar(), body_);
    nginx_ = std::make_unique<NginxServer>(release_, nginxOptions_);
    // Ahead of the fixture's catch-all release route, which would otherwise answer.
    server_.get("/files/big.jar",
                [this](const httplib::Request& request, httplib::Response& response) {
                  relay(request, response);
                });
    HeadlessRunTest::SetUp();
    setManifest({{"files/big.jar", "hash-1", static_cast<std::int64_t>(kSize)}});
  }

  [[nodiscard]] fs::path releasedJar() const { return release_ / "files" / "big.jar"; }

  // The server's threads are joined only after this fixture's own members are gone; the lock
  // orders the relay's last look at them before that.
  void TearDown() override { const std::lock_guard lock(relayMutex_); }

  void relay(const httplib::Request& request, httplib::Response& response) {
    const std::lock_guard lock(relayMutex_);
    const_cast<httplib::Request&>(request).ranges.clear();  // nginx answers ranges, not us
    const int answer = answers_++;
    if (answer == 0 && beforeFirstAnswer_) beforeFirstAnswer_();
    httplib::SSLClient client("127.0.0.1", nginx_->port());
    client.set_ca_cert_path(TestCertificate::shared().caFile().string());
    client.enable_server_certificate_verification(true);
    httplib::Headers headers;
    for (const char* name : {"Range", "If-Range"}) {
      if (request.has_header(name)) headers.emplace(name, request.get_header_value(name));
    }
    auto result = client.Get("/files/big.jar", headers);
    if (answer == 0 && afterFirstAnswer_) afterFirstAnswer_();
    if (!result) {
      response.status = 502;
      return;
    }
    response.status = result->status;
    for (const char* name : {"ETag", "Last-Modified", "Date", "Content-Range", "Accept-Ranges"}) {
      if (result->has_header(name)) response.set_header(name, result->get_header_value(name));
    }
    const bool cut = !cutLimit_ || answer < *cutLimit_;
    const std::size_t length = result->body.size();
    const std::size_t allowed = cut ? kSize * 4 / 10 : length;
    response.set_content_provider(
        length, "application/java-archive",
        [this, body = std::move(result->body), allowed](std::size_t offset, std::size_t available,
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
  const std::string body_ = testJarOfSize(kSize, 7);
  std::unique_ptr<NginxServer> nginx_;
  // Set before SetUp; the relay reads them on the server's threads.
  NginxServer::Options nginxOptions_;
  std::optional<int> cutLimit_;
  std::function<void()> beforeFirstAnswer_;
  std::function<void()> afterFirstAnswer_;
  std::atomic<int> answers_{0};
  std::mutex relayMutex_;
};

TEST_F(NginxResumeTest, ContinuesFromNginxRangesWithinOneRun) {
  expectLaunched(runInstaller(), kInstalling);
  EXPECT_EQ(readFile(jar()), body_);
  // A whole-file answer cut at 40 %, then two continuations nginx honoured with If-Range.
  EXPECT_EQ(nginx_->requests(),
            (std::vector<std::string>{"GET /files/big.jar 200", "GET /files/big.jar 206",
                                      "GET /files/big.jar 206"}));
}

// nginx with "etag off" validates by date alone, to the second. A release published in the
// second nginx answered in, then replaced by another of the same size within that second,
// carries the same Last-Modified; an If-Range with that date would splice the two.
class NginxSameSecondTest : public NginxResumeTest {
 protected:
  void SetUp() override {
    nginxOptions_.entityTags = false;
    cutLimit_ = 1;
    // The file's time is the second nginx answers in; at least 200 ms of it are left.
    beforeFirstAnswer_ = [this] {
      const auto now = std::chrono::system_clock::now().time_since_epoch();
      if (now % std::chrono::seconds(1) > std::chrono::milliseconds(800))
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
      published_ = fs::file_time_type::clock::now();
      published_ -= published_.time_since_epoch() % std::chrono::seconds(1);
      fs::last_write_time(releasedJar(), published_);
    };
    // Replaced the way a publish does it: a new file renamed over the old one.
    afterFirstAnswer_ = [this] {
      const fs::path next = release_ / "files" / ".big.jar.new";
      writeFile(next, versionTwo_);
      fs::last_write_time(next, published_);
      fs::rename(next, releasedJar());
    };
    NginxResumeTest::SetUp();
  }

  const std::string versionTwo_ = testJarOfSize(kSize, 8);
  fs::file_time_type published_;
};

TEST_F(NginxSameSecondTest, StartsOverInsteadOfSplicing) {
  expectLaunched(runInstaller(), kInstalling);

  EXPECT_TRUE(readFile(jar()) == versionTwo_) << "not version 2 whole";
  EXPECT_EQ(nginx_->requests(),
            (std::vector<std::string>{"GET /files/big.jar 200", "GET /files/big.jar 200"}));
}

}  // namespace
}  // namespace tolvane::test
