#include "UpdateServer/Publisher.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "Support/LoopbackServer.h"
#include "Support/Minisign.h"
#include "Support/TemporaryHome.h"
#include "Support/Thrown.h"
#include "UpdateServer/Tool.h"
#include "UpdateServer/ToolError.h"

namespace tolvane::test {
template <>
struct Placeholder<tools::ToolError> {
  static tools::ToolError make() { return tools::ToolError::failure("nothing thrown"); }
};
}  // namespace tolvane::test

namespace tolvane::tools {
namespace {

namespace fs = std::filesystem;
using test::patternBytes;
using test::readFile;
using test::writeFile;

// The digest as coreutils computes it, independently of our OpenSSL code.
std::string sha256sum(const fs::path& file) {
  const std::string command = "sha256sum '" + file.string() + "'";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  if (!pipe) {
    return {};
  }
  char digest[65] = {};
  if (std::fscanf(pipe.get(), "%64s", digest) != 1) {
    return {};
  }
  return digest;
}

// Everything below the folder, as relative paths, so tests can see stray files.
std::vector<std::string> listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    names.push_back(fs::relative(entry.path(), folder).string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class PublisherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    jar_ = temp_.path() / "input" / "Launcher build.jar";
    // More than one copy buffer, so the hash covers several reads.
    content_ = patternBytes(200 * 1024 + 17, 7);
    // Private to its owner: what gets published must still be readable by a web server.
    writeFile(jar_, content_, fs::perms(0600));
    root_ = temp_.path() / "release";
  }

  nlohmann::json manifest() const {
    return nlohmann::json::parse(readFile(root_ / "loaderv3.php"));
  }

  test::TemporaryDirectory temp_;
  fs::path jar_;
  fs::path root_;
  std::string content_;
};

TEST_F(PublisherTest, CopiesTheJarAndAnnouncesItsHashSizeAndPath) {
  const std::string path = "launcher/Мой лаунчер.jar";
  const ManifestEntry entry = Publisher(ReleaseFolder(root_)).publish(jar_, path).entry;

  const std::string expectedHash = sha256sum(jar_);
  ASSERT_EQ(expectedHash.size(), 64u);
  EXPECT_EQ(entry.hash, expectedHash);
  EXPECT_EQ(entry.size, static_cast<std::int64_t>(content_.size()));
  EXPECT_EQ(entry.path, path);
  EXPECT_EQ(readFile(root_ / "launcher" / "Мой лаунчер.jar"), content_);

  const nlohmann::json expected = {
      {"files", nlohmann::json::array(
                    {{{"path", path}, {"hash", expectedHash}, {"size", content_.size()}}})}};
  EXPECT_EQ(manifest(), expected);
  EXPECT_TRUE(manifest()["files"][0]["size"].is_number_integer());
  EXPECT_EQ(listing(root_),
            (std::vector<std::string>{"launcher", "launcher/Мой лаунчер.jar", "loaderv3.php"}));
}

TEST_F(PublisherTest, PublishedFilesAreReadableByAWebServer) {
  Publisher(ReleaseFolder(root_)).publish(jar_, "a.jar");
  for (const fs::path& file : {root_ / "a.jar", root_ / "loaderv3.php"}) {
    struct stat status {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u) << file;
  }
}

TEST_F(PublisherTest, RepublishingReplacesJarAndManifest) {
  const Publisher publisher{ReleaseFolder(root_)};
  publisher.publish(jar_, "launcher/Tolvane.jar");
  const std::string newer = patternBytes(1000, 8);
  writeFile(jar_, newer);
  const ManifestEntry entry = publisher.publish(jar_, "launcher/Tolvane.jar").entry;

  EXPECT_EQ(readFile(root_ / "launcher" / "Tolvane.jar"), newer);
  EXPECT_EQ(manifest()["files"][0]["hash"], sha256sum(jar_));
  EXPECT_EQ(manifest()["files"][0]["size"], 1000);
  EXPECT_EQ(entry.size, 1000);
  EXPECT_EQ(manifest()["files"].size(), 1u);
}

TEST_F(PublisherTest, RefusesAFolderThatIsASymbolicLinkLeadingOut) {
  fs::create_directories(root_);
  fs::create_directories(temp_.path() / "elsewhere");
  fs::create_directory_symlink(temp_.path() / "elsewhere", root_ / "launcher");
  const auto error = test::thrownBy<ToolError>("publish() through a link", [&] {
    Publisher(ReleaseFolder(root_)).publish(jar_, "launcher/sub/a.jar");
  });
  EXPECT_EQ(error.exitCode(), ToolError::kUsageExitCode);
  EXPECT_TRUE(fs::is_empty(temp_.path() / "elsewhere"));
  EXPECT_FALSE(fs::exists(root_ / "loaderv3.php"));
}

TEST_F(PublisherTest, AMissingJarFailsAndLeavesThePreviousReleaseIntact) {
  const Publisher publisher{ReleaseFolder(root_)};
  publisher.publish(jar_, "a.jar");
  const std::string manifestBefore = readFile(root_ / "loaderv3.php");
  const auto error =
      test::thrown<ToolError>([&] { publisher.publish(temp_.path() / "no such.jar", "a.jar"); });
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->exitCode(), ToolError::kFailureExitCode);
  EXPECT_NE(error->localizedDescription().find("no such.jar"), std::string::npos)
      << error->localizedDescription();
  EXPECT_EQ(readFile(root_ / "loaderv3.php"), manifestBefore);
  EXPECT_EQ(readFile(root_ / "a.jar"), content_);
  EXPECT_EQ(listing(root_), (std::vector<std::string>{"a.jar", "loaderv3.php"}));
}

// Two operators publishing into one folder at once: whichever wins, the manifest describes
// the file that is at its path.
TEST_F(PublisherTest, ConcurrentPublishesLeaveAManifestThatMatchesTheFile) {
  std::vector<std::thread> publishers;
  for (std::uint32_t i = 0; i < 2; ++i) {
    const fs::path jar = temp_.path() / ("jar" + std::to_string(i));
    writeFile(jar, patternBytes(256 * 1024, i + 10));
    publishers.emplace_back([this, jar] {
      const auto error =
          test::thrown<ToolError>([&] { Publisher(ReleaseFolder(root_)).publish(jar, "a.jar"); });
      EXPECT_FALSE(error.has_value()) << error->localizedDescription();
    });
  }
  for (auto& publisher : publishers) publisher.join();
  EXPECT_EQ(manifest()["files"][0]["hash"], sha256sum(root_ / "a.jar"));
}

TEST_F(PublisherTest, SweepsWhatAKilledPublishLeftBehind) {
  writeFile(root_ / "launcher" / ".Tolvane.jar.publishing-Ab12Cd", "partial", fs::perms(0600));
  writeFile(root_ / ".old.jar.publishing-XyZ789", "partial", fs::perms(0600));
  writeFile(root_ / ".keep", "operator's");
  writeFile(root_ / "notes.publishing-123456", "operator's");
  Publisher(ReleaseFolder(root_)).publish(jar_, "launcher/Tolvane.jar");
  EXPECT_EQ(listing(root_), (std::vector<std::string>{".keep", "launcher", "launcher/Tolvane.jar",
                                                      "loaderv3.php", "notes.publishing-123456"}));
}

// The command as operators type it: exit status and messages.
class PublishCommand : public PublisherTest {
 protected:
  int run(const std::vector<std::string>& arguments) {
    Tool tool(out_, err_, [](const UpdateServer&) { ADD_FAILURE() << "publish served"; });
    return tool.run(arguments);
  }
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(PublishCommand, ReportsTheEntryAndWarnsOnlyWhenThePathHeldADifferentFile) {
  const std::vector<std::string> arguments = {"publish", jar_.string(), "--root", root_.string(),
                                              "--path=launcher/a.jar"};
  ASSERT_EQ(run(arguments), 0) << err_.str();
  EXPECT_EQ(readFile(root_ / "launcher" / "a.jar"), content_);
  EXPECT_NE(out_.str().find(sha256sum(jar_)), std::string::npos) << out_.str();
  ASSERT_EQ(run(arguments), 0) << err_.str();
  EXPECT_EQ(err_.str(), "");
  writeFile(jar_, patternBytes(1000, 9));
  ASSERT_EQ(run(arguments), 0) << err_.str();
  EXPECT_NE(err_.str().find("warning: \"launcher/a.jar\" held a different file"), std::string::npos)
      << err_.str();
}

// What makes a signature good is ReleaseSignature's to check; here the command carries the
// signature to the folder, refuses what the key does not verify, and serve hands it out.
TEST_F(PublishCommand, PublishesTheSignatureNextToTheJarAndRefusesOneTheKeyDoesNotVerify) {
  const test::MinisignKey key(temp_.path() / "keys", "release");
  const test::MinisignKey otherKey(temp_.path() / "keys", "other");
  const fs::path signature = key.sign(jar_);
  const fs::path published = root_ / "launcher" / "a.jar.minisig";
  const std::vector<std::string> publish = {"publish",      jar_.string(),     "--root",
                                            root_.string(), "--path",          "launcher/a.jar",
                                            "--signature",  signature.string()};

  ASSERT_EQ(run(publish), 0) << err_.str();
  EXPECT_EQ(readFile(published), readFile(signature));
  EXPECT_NE(out_.str().find("launcher/a.jar.minisig (key " + key.keyId()), std::string::npos)
      << out_.str();
  EXPECT_NE(out_.str().find("not verified: no --public-key"), std::string::npos) << out_.str();

  for (const std::string& publicKey : {key.publicKey(), key.publicKeyFile().string()}) {
    out_.str("");
    auto withKey = publish;
    withKey.insert(withKey.end(), {"--public-key", publicKey});
    ASSERT_EQ(run(withKey), 0) << err_.str();
    EXPECT_NE(out_.str().find("verified with the given key"), std::string::npos) << out_.str();
  }

  // Signed by another key than the one given: refused, and the release stays as it was.
  const std::string manifestBefore = readFile(root_ / "loaderv3.php");
  writeFile(jar_, patternBytes(5000, 11));
  const fs::path wrongSignature = otherKey.sign(jar_);
  err_.str("");
  EXPECT_EQ(run({"publish", jar_.string(), "--root", root_.string(), "--path", "launcher/b.jar",
                 "--signature", wrongSignature.string(), "--public-key", key.publicKey()}),
            ToolError::kUsageExitCode);
  EXPECT_NE(err_.str().find(otherKey.keyId()), std::string::npos) << err_.str();
  EXPECT_EQ(readFile(root_ / "loaderv3.php"), manifestBefore);
  EXPECT_EQ(listing(root_), (std::vector<std::string>{"launcher", "launcher/a.jar",
                                                      "launcher/a.jar.minisig", "loaderv3.php"}));

  const std::string served = readFile(published);
  std::optional<httplib::Result> response;
  Tool server(out_, err_, [&](const UpdateServer& running) {
    response = httplib::Client(running.origin()).Get("/launcher/a.jar.minisig");
  });
  ASSERT_EQ(server.run({"serve", "--root", root_.string(), "--http"}), 0) << err_.str();
  ASSERT_TRUE(response && *response) << err_.str();
  EXPECT_EQ((*response)->status, 200);
  EXPECT_EQ((*response)->body, served);

  // Publishing the path again without a signature drops the one that signed the old jar.
  ASSERT_EQ(run({"publish", jar_.string(), "--root", root_.string(), "--path", "launcher/a.jar"}),
            0)
      << err_.str();
  EXPECT_FALSE(fs::exists(published));
}

// The refused paths themselves are tried on ReleaseFolder.
TEST_F(PublishCommand, EscapingPathExitsWithStatusTwoAndSaysWhy) {
  EXPECT_EQ(run({"publish", jar_.string(), "--root", root_.string(), "--path", "../a.jar"}), 2);
  EXPECT_NE(err_.str().find("leaves the release folder"), std::string::npos) << err_.str();
  EXPECT_FALSE(fs::exists(root_));
}

}  // namespace
}  // namespace tolvane::tools
