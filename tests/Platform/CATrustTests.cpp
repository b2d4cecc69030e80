#include "Platform/CATrust.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <memory>

#include "Platform/CurlMulti.h"
#include "Support/LoopbackServer.h"
#include "Support/TemporaryDirectory.h"
#include "Support/TemporaryHome.h"
#include "Support/TestCertificate.h"

namespace tolvane::platform {
namespace {

namespace fs = std::filesystem;

// The name OpenSSL's folder lookup looks for: the subject hash of `certificate`, then ".0".
std::string hashName(const fs::path& certificate) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(certificate.c_str(), "r"), &std::fclose);
  std::unique_ptr<X509, void (*)(X509*)> x509(
      file ? PEM_read_X509(file.get(), nullptr, nullptr, nullptr) : nullptr, &X509_free);
  char name[16];
  std::snprintf(name, sizeof name, "%08lx.0", x509 ? X509_subject_name_hash(x509.get()) : 0UL);
  return name;
}

class CATrustTest : public ::testing::Test {
 protected:
  CATrustTest() {
    fs::create_directories(hashed_);
    fs::create_directories(plain_);
    fs::copy_file(caFile_, hashed_ / hashName(caFile_));
    fs::copy_file(caFile_, plain_ / "test-ca.pem");
    test::writeFile(bundle_, "SYSTEM BUNDLE\n");
  }

  // Whether a fresh connection to the HTTPS server verifies under `trust`.
  CURLcode fetch(const CATrust& trust) {
    CurlEasy easy(curl_easy_init());
    const std::string url = server_.url("/hello");
    curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(
        easy.get(), CURLOPT_WRITEFUNCTION,
        +[](char*, std::size_t size, std::size_t count, void*) { return size * count; });
    EXPECT_TRUE(trust.apply(easy.get()));
    return curl_easy_perform(easy.get());
  }

  test::TemporaryDirectory root_;
  const fs::path caFile_ = test::TestCertificate::shared().caFile();
  const fs::path hashed_ = root_.path() / "hashed";
  const fs::path plain_ = root_.path() / "plain";
  const fs::path bundle_ = root_.path() / "bundle.pem";
  test::LoopbackServer server_;
};

TEST_F(CATrustTest, AHashedFolderIsReadLazilyWithTheExtraFileBesideIt) {
  auto alone = CATrust::make(std::nullopt, {bundle_, hashed_});
  EXPECT_EQ(alone->folder(), hashed_);
  EXPECT_TRUE(alone->file().empty()) << "the bundle would be parsed for every connection";

  auto extra = CATrust::make(caFile_, {bundle_, hashed_});
  EXPECT_EQ(extra->folder(), hashed_);
  EXPECT_EQ(extra->file(), caFile_);

  auto unreadable = CATrust::make(root_.path() / "missing.pem", {bundle_, hashed_});
  EXPECT_TRUE(unreadable->file().empty());
}

TEST_F(CATrustTest, WithoutAHashedFolderTheBundleCarriesTheExtraCAs) {
  auto alone = CATrust::make(std::nullopt, {bundle_, plain_});
  EXPECT_EQ(alone->file(), bundle_);
  EXPECT_TRUE(alone->folder().empty()) << "a folder turns libcurl's bundle cache off";

  auto extra = CATrust::make(caFile_, {bundle_, plain_});
  EXPECT_TRUE(extra->folder().empty());
  const std::string combined = test::readFile(extra->file());
  EXPECT_EQ(combined.rfind("SYSTEM BUNDLE\n", 0), 0u);
  EXPECT_NE(combined.find(test::readFile(caFile_)), std::string::npos);
}

TEST_F(CATrustTest, ConnectionsVerifyAgainstWhatWasChosen) {
  server_.serveBody("/hello", "hi", "text/plain");
  EXPECT_EQ(fetch(*CATrust::make(std::nullopt, {bundle_, hashed_})), CURLE_OK);
  EXPECT_EQ(fetch(*CATrust::make(caFile_, {bundle_, plain_})), CURLE_OK);
  // The CA is in neither the folder nor a file: the server is not trusted.
  const fs::path other = root_.path() / "other";
  fs::create_directories(other);
  fs::copy_file(caFile_, other / "00000000.0");
  EXPECT_EQ(fetch(*CATrust::make(std::nullopt, {bundle_, other})), CURLE_PEER_FAILED_VERIFICATION);
}

}  // namespace
}  // namespace tolvane::platform
