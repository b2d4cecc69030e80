#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "EndToEnd/HeadlessRunFixture.h"
#include "Support/NginxServer.h"

// A release as operators host it: published with `tolvane-update-server publish` into a
// folder that nginx serves as static files.
namespace tolvane::test {
namespace {

namespace fs = std::filesystem;

const fs::path kUpdateServer = fs::path(TOLVANE_BINARY_DIR) / "bin" / "tolvane-update-server";
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

TEST_F(NginxReleaseTest, InstallsKeepsUpdatesAndReportsAMissingJar) {
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

  // The manifest names a jar the folder no longer holds: nginx's 404 page never becomes the
  // jar, version 2 stays installed and recorded.
  publishJar("files/Tolvane-3.jar", "launcher v3");
  fs::remove(release_ / "files" / "Tolvane-3.jar");
  expectFailed(runInstaller(), kUpdating,
               kCheckFailed + retryFailed("Response status code was unacceptable: 404."));
  EXPECT_EQ(readFile(jar()), "launcher v2");
  EXPECT_EQ(storedEntry()->path, "files/Tolvane-2.jar");
  std::vector<std::string> expected{kManifestRequest};
  expected.insert(expected.end(), 4, "GET /files/Tolvane-3.jar 404");
  EXPECT_EQ(newRequests(), expected);
}

}  // namespace
}  // namespace tolvane::test
