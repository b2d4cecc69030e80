#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "Installer/InstalledRelease.h"
#include "Installer/ReleaseSignature.h"
#include "Platform/UserDefaults.h"
#include "Services/FileDownloadService.h"
#include "Services/ServicesTestSupport.h"
#include "Support/Minisign.h"
#include "Support/TemporaryDirectory.h"
#include "Support/TestArchives.h"

// The launcher download with release keys configured, against signatures made by Debian's
// minisign. What makes a signature good or bad is checked on ReleaseSignature; here, that the
// download asks for it, refuses what does not verify like any other bad body, and records
// what it installed.
namespace tolvane::test {
namespace {

namespace fs = std::filesystem;
using Form = MinisignKey::Form;
using platform::UserDefaults;

const std::string kJarPath = "/files/a.jar";
const std::string kSignaturePath = kJarPath + ".minisig";

class SignedDownloadTest : public ServiceFixture {
 protected:
  static void SetUpTestSuite() {
    keyFolder_ = std::make_unique<TemporaryDirectory>();
    releaseKey_ = std::make_unique<MinisignKey>(keyFolder_->path(), "release");
    otherKey_ = std::make_unique<MinisignKey>(keyFolder_->path(), "other");
  }
  static void TearDownTestSuite() {
    otherKey_.reset();
    releaseKey_.reset();
    keyFolder_.reset();
  }

  void SetUp() override {
    ServiceFixture::SetUp();
    configureKeys(releaseKey_->publicKey());
  }

  void configureKeys(const std::optional<std::string>& keys) {
    home_->setEnvironment("TOLVANE_RELEASE_PUBLIC_KEYS", keys);
  }

  // minisign's signature of `body` as a file named like the release.
  [[nodiscard]] std::string signatureOf(const std::string& body, const MinisignKey& key,
                                        Form form = Form::prehashed,
                                        const std::optional<std::string>& comment = {}) const {
    const fs::path file = signing_.path() / "a.jar";
    writeFile(file, body);
    return readFile(key.sign(file, form, comment));
  }

  platform::ErrorPtr download() {
    return callOffMainQueue([&] { service_.downloadFile(kJarPath.substr(1)); });
  }

  [[nodiscard]] std::vector<std::string> requestedPaths() const {
    std::vector<std::string> paths;
    for (const auto& request : server_.requests()) paths.push_back(request.path);
    return paths;
  }

  static std::optional<platform::Data> storedRecord() {
    return UserDefaults::standard().data(InstalledRelease::kKey);
  }

  static std::unique_ptr<TemporaryDirectory> keyFolder_;
  static std::unique_ptr<MinisignKey> releaseKey_;
  static std::unique_ptr<MinisignKey> otherKey_;
  TemporaryDirectory signing_;
  FileDownloadService service_{folder_, session(), &shortRetryHandler};
  const std::string release_ = testJarOfSize(100'000, 3);
};

std::unique_ptr<TemporaryDirectory> SignedDownloadTest::keyFolder_;
std::unique_ptr<MinisignKey> SignedDownloadTest::releaseKey_;
std::unique_ptr<MinisignKey> SignedDownloadTest::otherKey_;

struct InstallRow {
  const char* name;
  Form form = Form::prehashed;
  bool bothKeysConfigured = false;  // and the release signed by the second
  friend void PrintTo(const InstallRow& row, std::ostream* out) { *out << row.name; }
};

class SignedInstallTest : public SignedDownloadTest,
                          public ::testing::WithParamInterface<InstallRow> {};

TEST_P(SignedInstallTest, FetchesTheSignatureFirstAndRecordsTheRelease) {
  const InstallRow& row = GetParam();
  const MinisignKey& signer = row.bothKeysConfigured ? *otherKey_ : *releaseKey_;
  if (row.bothKeysConfigured) {
    configureKeys(releaseKey_->publicKey() + ";" + otherKey_->publicKey());
  }
  const std::string signature = signatureOf(release_, signer, row.form);
  server_.serveBody(kJarPath, release_);
  server_.serveBody(kSignaturePath, signature);

  const auto error = download();

  ASSERT_EQ(error, nullptr) << error->localizedDescription();
  EXPECT_TRUE(readFile(jar()) == release_);
  EXPECT_EQ(requestedPaths(), (std::vector<std::string>{kSignaturePath, kJarPath}));
  const auto installed = InstalledRelease::load(UserDefaults::standard());
  ASSERT_TRUE(installed);
  EXPECT_EQ(installed->timestamp, ReleaseSignature::parse(signature).timestamp());
  EXPECT_TRUE(installed->describes(jar()));
}

INSTANTIATE_TEST_SUITE_P(Signatures, SignedInstallTest,
                         ::testing::Values(InstallRow{.name = "Prehashed"},
                                           InstallRow{.name = "Legacy", .form = Form::legacy},
                                           InstallRow{.name = "SecondConfiguredKey",
                                                      .bothKeysConfigured = true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Releases that must not replace the installed one, which was signed at kInstalledAt.
constexpr std::int64_t kInstalledAt = 1750000000;

class SignedRefusalTest;

struct RefusalRow {
  using Serve = std::function<void(SignedRefusalTest&, LoopbackServer&)>;
  const char* name;
  // Serves the release and its signature (or not), given the test to sign with.
  Serve serve;
  std::vector<std::string> requests;
  // After the catalogue's prefix; "<release key>" and "<other key>" stand for the keys' ids,
  // which minisign makes only when the suite starts.
  std::string message;
  friend void PrintTo(const RefusalRow& row, std::ostream* out) { *out << row.name; }
};

class SignedRefusalTest : public SignedDownloadTest,
                          public ::testing::WithParamInterface<RefusalRow> {
 public:
  using SignedDownloadTest::release_;
  using SignedDownloadTest::signatureOf;
  static const MinisignKey& releaseKey() { return *releaseKey_; }
  static const MinisignKey& otherKey() { return *otherKey_; }
};

TEST_P(SignedRefusalTest, LeavesTheInstalledJarAndItsRecord) {
  const std::string installedJar = testJarOfSize(50'000, 7);
  writeFile(jar(), installedJar);
  InstalledRelease::store(UserDefaults::standard(), kInstalledAt, jar());
  const auto record = storedRecord();
  GetParam().serve(*this, server_);

  const auto error = download();

  ASSERT_NE(error, nullptr);
  std::string message = GetParam().message;
  for (const auto& [name, key] :
       {std::pair{"<release key>", releaseKey_.get()}, std::pair{"<other key>", otherKey_.get()}}) {
    if (const auto at = message.find(name); at != std::string::npos) {
      message.replace(at, std::string(name).size(), key->keyId());
    }
  }
  EXPECT_EQ(asResourceError(error).message(), kCheckFailedPrefix + message);
  EXPECT_EQ(requestedPaths(), GetParam().requests);
  EXPECT_TRUE(readFile(jar()) == installedJar);
  EXPECT_EQ(storedRecord(), record);
  EXPECT_TRUE(InstalledRelease::load(UserDefaults::standard())->describes(jar()));
  EXPECT_FALSE(fs::exists(folder_.launcherStaging()));
}

std::string refusedBody(const std::string& why) {
  return retryFailedText(
      "Custom response validation failed with error: The release's signature did not verify: " +
      why);
}

// Signed as it is, served with `edit` applied to the jar (first) or to the signature.
RefusalRow::Serve servedSigned(std::function<std::string(SignedRefusalTest&)> sign,
                               std::function<void(std::string&, std::string&)> edit = {}) {
  return [sign, edit](SignedRefusalTest& test, LoopbackServer& server) {
    std::string body = test.release_;
    std::string signature = sign(test);
    if (edit) edit(body, signature);
    server.serveBody(kJarPath, body);
    server.serveBody(kSignaturePath, signature);
  };
}

const std::vector<std::string> kFourAttempts = {kSignaturePath, kJarPath, kJarPath, kJarPath,
                                                kJarPath};

INSTANTIATE_TEST_SUITE_P(
    Refusals, SignedRefusalTest,
    ::testing::Values(
        RefusalRow{
            .name = "FlippedByteInTheJar",
            .serve = servedSigned(
                [](auto& test) {
                  return test.signatureOf(test.release_, SignedRefusalTest::releaseKey());
                },
                [](std::string& body, std::string&) { body[body.size() / 2] ^= 0x01; }),
            .requests = kFourAttempts,
            .message = refusedBody("the signature by key <release key> does not match the file")},
        RefusalRow{
            .name = "SignedByAnotherKey",
            .serve = servedSigned([](auto& test) {
              return test.signatureOf(test.release_, SignedRefusalTest::otherKey());
            }),
            .requests = kFourAttempts,
            .message = refusedBody("it was made with key <other key>, which is not a release key")},
        // Someone serving an old release makes its signing time look recent.
        RefusalRow{
            .name = "EditedTrustedComment",
            .serve = servedSigned(
                [](auto& test) {
                  return test.signatureOf(test.release_, SignedRefusalTest::releaseKey());
                },
                [](std::string&, std::string& signature) {
                  const auto at = signature.find("timestamp:") + 10;
                  signature.replace(at, 10, "4102444800");
                }),
            .requests = kFourAttempts,
            .message = refusedBody("the trusted comment was not signed by key <release key>")},
        RefusalRow{.name = "OlderThanTheInstalledRelease",
                   .serve = servedSigned([](auto& test) {
                     return test.signatureOf(test.release_, SignedRefusalTest::releaseKey(),
                                             Form::prehashed,
                                             "timestamp:1700000000\tfile:a.jar\thashed");
                   }),
                   .requests = kFourAttempts,
                   .message = refusedBody("the release signed by key <release key> at 1700000000 "
                                          "(2023-11-14 22:13:20 UTC) is older than the installed "
                                          "one, signed at 1750000000 (2025-06-15 15:06:40 UTC)")},
        // Not even asked for: without its signature the jar cannot be checked.
        RefusalRow{.name = "SignatureMissing",
                   .serve = [](SignedRefusalTest&,
                               LoopbackServer& server) { server.serveBody(kJarPath, "jar"); },
                   .requests = std::vector<std::string>(4, kSignaturePath),
                   .message = "The release's signature could not be fetched: " +
                              retryFailedText("Response status code was unacceptable: 404.")}),
    [](const auto& info) { return std::string(info.param.name); });

// A signature file is a few hundred bytes: a server that sends more is not read to its end,
// and the download fails at once, without retries.
TEST_F(SignedDownloadTest, EndlessSignatureIsRefusedUnread) {
  constexpr std::size_t kServed = 64 * 1024 * 1024;
  auto sent = std::make_shared<std::atomic<std::size_t>>(0);
  server_.servePieces(kSignaturePath, kServed, false, 64 * 1024, sent);
  server_.serveBody(kJarPath, release_);

  const auto error = download();

  ASSERT_NE(error, nullptr);
  EXPECT_EQ(asResourceError(error).message(),
            kCheckFailedPrefix +
                "The release's signature did not verify: the signature file is larger than 64 KiB");
  EXPECT_EQ(requestedPaths(), std::vector<std::string>{kSignaturePath});
  // What the loopback connection's buffers took before the transport stopped reading.
  EXPECT_LT(sent->load(), kServed / 4);
}

// One unusable key refuses every download before anything is asked for, rather than checking
// against fewer keys.
TEST_F(SignedDownloadTest, MalformedConfiguredKeyFailsEveryDownloadUnasked) {
  configureKeys(releaseKey_->publicKey() + " RWtypo");
  server_.serveBody(kJarPath, release_);

  const auto error = download();

  ASSERT_NE(error, nullptr);
  EXPECT_EQ(asResourceError(error).message(),
            kCheckFailedPrefix +
                "A release key is unusable: \"RWtypo\" is not a minisign public key: its key "
                "line is not base64");
  EXPECT_EQ(server_.requestCount(), 0u);
  EXPECT_FALSE(fs::exists(jar()));
}

// Without keys, even a signature that would be refused is never asked for, and nothing is
// recorded.
TEST_F(SignedDownloadTest, WithoutKeysNoSignatureIsAskedForNorRecorded) {
  configureKeys(std::nullopt);
  server_.serveBody(kJarPath, release_);
  server_.serveBody(kSignaturePath, signatureOf(release_, *otherKey_));

  ASSERT_EQ(download(), nullptr);

  EXPECT_TRUE(readFile(jar()) == release_);
  EXPECT_EQ(requestedPaths(), std::vector<std::string>{kJarPath});
  EXPECT_EQ(storedRecord(), std::nullopt);
}

}  // namespace
}  // namespace tolvane::test
