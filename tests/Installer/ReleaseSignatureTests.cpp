#include "Installer/ReleaseSignature.h"

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "Installer/ReleaseKeys.h"
#include "Installer/ReleaseSignatureError.h"
#include "Platform/Base64.h"
#include "Support/LoopbackServer.h"
#include "Support/Minisign.h"
#include "Support/TemporaryHome.h"
#include "Support/Thrown.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using Form = test::MinisignKey::Form;
using Reason = ReleaseSignatureError::Reason;

// Two key pairs made by minisign once for the suite; each test signs a jar of its own.
class ReleaseSignatureTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    keyFolder_ = std::make_unique<test::TemporaryDirectory>();
    releaseKey_ = std::make_unique<test::MinisignKey>(keyFolder_->path(), "release");
    otherKey_ = std::make_unique<test::MinisignKey>(keyFolder_->path(), "other");
  }
  static void TearDownTestSuite() {
    otherKey_.reset();
    releaseKey_.reset();
    keyFolder_.reset();
  }

  void SetUp() override {
    // More than one read buffer, so the streamed hash covers several pieces.
    test::writeFile(jar_, test::patternBytes(200 * 1024 + 3, 5));
  }

  static ReleaseKeys releaseKeys() { return ReleaseKeys::parse(releaseKey_->publicKey()); }

  static std::unique_ptr<test::TemporaryDirectory> keyFolder_;
  static std::unique_ptr<test::MinisignKey> releaseKey_;
  static std::unique_ptr<test::MinisignKey> otherKey_;
  test::TemporaryDirectory temp_;
  fs::path jar_ = temp_.path() / "Tolvane.jar";
};

std::unique_ptr<test::TemporaryDirectory> ReleaseSignatureTest::keyFolder_;
std::unique_ptr<test::MinisignKey> ReleaseSignatureTest::releaseKey_;
std::unique_ptr<test::MinisignKey> ReleaseSignatureTest::otherKey_;

struct SigningRow {
  const char* name;
  Form form;
  ReleaseSignature::Algorithm algorithm;
  std::optional<std::string> trustedComment = std::nullopt;  // minisign's own when absent

  friend void PrintTo(const SigningRow& row, std::ostream* out) { *out << row.name; }
};

class MinisignSignatureTest : public ReleaseSignatureTest,
                              public ::testing::WithParamInterface<SigningRow> {};

TEST_P(MinisignSignatureTest, VerifiesAndVouchesForTheSignedTimestamp) {
  const SigningRow& row = GetParam();
  const std::int64_t before = std::time(nullptr);
  const fs::path path = releaseKey_->sign(jar_, row.form, row.trustedComment);
  const std::int64_t after = std::time(nullptr);

  const ReleaseSignature signature = ReleaseSignature::read(path);
  EXPECT_EQ(signature.algorithm(), row.algorithm);
  const VerifiedRelease release = signature.verify(jar_, releaseKeys());
  EXPECT_EQ(release.keyId, releaseKey_->keyId());
  if (row.trustedComment) {
    EXPECT_EQ(release.trustedComment, *row.trustedComment);
    EXPECT_EQ(release.timestamp, 1700000000);
  } else {
    EXPECT_NE(release.trustedComment.find("\tfile:Tolvane.jar"), std::string::npos)
        << release.trustedComment;
    EXPECT_GE(release.timestamp, before);
    EXPECT_LE(release.timestamp, after);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, MinisignSignatureTest,
    ::testing::Values(SigningRow{.name = "PrehashedByDefault",
                                 .form = Form::prehashed,
                                 .algorithm = ReleaseSignature::Algorithm::prehashed},
                      SigningRow{.name = "Legacy",
                                 .form = Form::legacy,
                                 .algorithm = ReleaseSignature::Algorithm::legacy},
                      SigningRow{
                          .name = "TimestampAmongOtherFields",
                          .form = Form::prehashed,
                          .algorithm = ReleaseSignature::Algorithm::prehashed,
                          .trustedComment = "file:Tolvane.jar\ttimestamp:1700000000\thashed"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReleaseSignatureTest, AnyConfiguredKeyVerifiesWhateverSeparatesThem) {
  const fs::path path = otherKey_->sign(jar_);
  for (const std::string& list :
       {releaseKey_->publicKey() + ";" + otherKey_->publicKey(),
        "\n " + releaseKey_->publicKey() + " \t" + otherKey_->publicKey() + ";\n"}) {
    const ReleaseKeys keys = ReleaseKeys::parse(list);
    ASSERT_EQ(keys.keys().size(), 2u);
    EXPECT_EQ(ReleaseSignature::read(path).verify(jar_, keys).keyId, otherKey_->keyId());
  }
}

// A signature that was tampered with, or made by the wrong key, after minisign made it.
struct RefusalRow {
  const char* name;
  Form form = Form::prehashed;
  bool signedByOtherKey = false;
  std::optional<std::string> trustedComment = std::nullopt;
  void (*tamper)(const fs::path& jar, const fs::path& signature) = nullptr;
  Reason reason;
  bool namesOtherKey = false;

  friend void PrintTo(const RefusalRow& row, std::ostream* out) { *out << row.name; }
};

void flipAByteOfTheJar(const fs::path& jar, const fs::path&) {
  std::string bytes = test::readFile(jar);
  bytes[bytes.size() / 2] ^= 0x01;
  test::writeFile(jar, bytes);
}

// Lines of a signature file, edited one at a time.
std::vector<std::string> linesOf(const fs::path& signature) {
  std::vector<std::string> lines;
  std::string text = test::readFile(signature);
  for (std::size_t end; (end = text.find('\n')) != std::string::npos; text.erase(0, end + 1)) {
    lines.push_back(text.substr(0, end));
  }
  return lines;
}
void writeLines(const fs::path& signature, const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  test::writeFile(signature, text);
}

class RefusedSignatureTest : public ReleaseSignatureTest,
                             public ::testing::WithParamInterface<RefusalRow> {
 public:
  // Another key's signature presented under the release key's id.
  static void claimTheReleaseKeysId(const fs::path&, const fs::path& signature) {
    auto lines = linesOf(signature);
    std::string bytes = *platform::decodeBase64(lines[1]);
    const auto releaseId = *platform::decodeBase64(releaseKey_->publicKey());
    bytes.replace(2, 8, releaseId.substr(2, 8));
    lines[1] = platform::encodeBase64(bytes);
    writeLines(signature, lines);
  }
  // What someone serving an old release would do: make its signing time look recent.
  static void moveTheTimestampForward(const fs::path&, const fs::path& signature) {
    auto lines = linesOf(signature);
    lines[2] = "trusted comment: timestamp:4102444800\tfile:Tolvane.jar\thashed";
    writeLines(signature, lines);
  }
};

TEST_P(RefusedSignatureTest, IsRefusedSayingWhyAndNamingTheKey) {
  const RefusalRow& row = GetParam();
  const test::MinisignKey& signer = row.signedByOtherKey ? *otherKey_ : *releaseKey_;
  const fs::path path = signer.sign(jar_, row.form, row.trustedComment);
  if (row.tamper != nullptr) row.tamper(jar_, path);

  const auto error = test::thrown<ReleaseSignatureError>(
      [&] { (void)ReleaseSignature::read(path).verify(jar_, releaseKeys()); });
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->reason(), row.reason) << error->debugDescription();
  const std::string& keyId = row.namesOtherKey ? otherKey_->keyId() : releaseKey_->keyId();
  EXPECT_EQ(error->keyId(), keyId);
  EXPECT_NE(error->debugDescription().find(keyId), std::string::npos) << error->debugDescription();
}

INSTANTIATE_TEST_SUITE_P(
    Tampering, RefusedSignatureTest,
    ::testing::Values(RefusalRow{.name = "FlippedByteInTheJar",
                                 .tamper = flipAByteOfTheJar,
                                 .reason = Reason::badSignature},
                      RefusalRow{.name = "FlippedByteInALegacySignedJar",
                                 .form = Form::legacy,
                                 .tamper = flipAByteOfTheJar,
                                 .reason = Reason::badSignature},
                      RefusalRow{.name = "SignedByAnotherKey",
                                 .signedByOtherKey = true,
                                 .reason = Reason::unknownKey,
                                 .namesOtherKey = true},
                      RefusalRow{.name = "AnotherKeysSignatureUnderTheReleaseKeysId",
                                 .signedByOtherKey = true,
                                 .tamper = RefusedSignatureTest::claimTheReleaseKeysId,
                                 .reason = Reason::badGlobalSignature},
                      RefusalRow{.name = "EditedTrustedComment",
                                 .tamper = RefusedSignatureTest::moveTheTimestampForward,
                                 .reason = Reason::badGlobalSignature},
                      RefusalRow{.name = "TrustedCommentWithoutTimestamp",
                                 .trustedComment = "file:Tolvane.jar\thashed",
                                 .reason = Reason::missingTimestamp}),
    [](const auto& info) { return std::string(info.param.name); });

// The form of a signature file, without any key: made-up bytes of the right lengths.
std::string signatureLine(std::string_view algorithm = "ED", std::size_t signatureBytes = 64) {
  return platform::encodeBase64(std::string(algorithm) + std::string(8, '\x11') +
                                std::string(signatureBytes, '\x22'));
}
std::string globalLine(std::size_t bytes = 64) {
  return platform::encodeBase64(std::string(bytes, '\x33'));
}
std::string signatureFile(const std::string& untrusted = "untrusted comment: x",
                          const std::string& signature = signatureLine(),
                          const std::string& trusted = "trusted comment: timestamp:5",
                          const std::string& global = globalLine()) {
  return untrusted + "\n" + signature + "\n" + trusted + "\n" + global + "\n";
}
// A valid file of exactly `size` bytes, grown through its untrusted comment.
std::string signatureFileOfSize(std::size_t size) {
  const std::size_t rest = signatureFile("untrusted comment: ").size();
  return signatureFile("untrusted comment: " + std::string(size - rest, 'x'));
}

struct FormRow {
  const char* name;
  std::string text;
  std::optional<Reason> refusal = std::nullopt;  // none: parses

  friend void PrintTo(const FormRow& row, std::ostream* out) { *out << row.name; }
};

class SignatureFormTest : public ::testing::TestWithParam<FormRow> {};

TEST_P(SignatureFormTest, ParsesOnlyTheFourLinesMinisignWrites) {
  const FormRow& row = GetParam();
  const auto error = test::thrown<ReleaseSignatureError>([&] {
    const auto signature = ReleaseSignature::parse(row.text);
    EXPECT_EQ(signature.algorithm(), ReleaseSignature::Algorithm::prehashed);
    EXPECT_EQ(signature.trustedComment(), "timestamp:5");
    EXPECT_EQ(ReleasePublicKey::idText(signature.keyId()), "1111111111111111");
  });
  if (row.refusal) {
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->reason(), *row.refusal) << error->debugDescription();
  } else {
    EXPECT_FALSE(error.has_value()) << error->debugDescription();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, SignatureFormTest,
    ::testing::Values(
        FormRow{.name = "AsMinisignWritesIt", .text = signatureFile()},
        FormRow{.name = "WindowsLineEnds",
                .text = "untrusted comment: x\r\n" + signatureLine() +
                        "\r\ntrusted comment: timestamp:5\r\n" + globalLine() + "\r\n"},
        FormRow{.name = "WithoutFinalLineEnd",
                .text = signatureFile().substr(0, signatureFile().size() - 1)},
        FormRow{.name = "ExactlyTheLimit",
                .text = signatureFileOfSize(ReleaseSignature::kMaximumFileSize)},
        FormRow{.name = "OneByteOverTheLimit",
                .text = signatureFileOfSize(ReleaseSignature::kMaximumFileSize + 1),
                .refusal = Reason::oversizedSignature},
        FormRow{.name = "Empty", .text = "", .refusal = Reason::malformedSignature},
        FormRow{.name = "ThreeLines",
                .text = "untrusted comment: x\n" + signatureLine() + "\ntrusted comment: t\n",
                .refusal = Reason::malformedSignature},
        FormRow{.name = "AFifthLine",
                .text = signatureFile() + "\n",
                .refusal = Reason::malformedSignature},
        FormRow{.name = "NoUntrustedComment",
                .text = signatureFile("comment: x"),
                .refusal = Reason::malformedSignature},
        FormRow{.name = "SignatureLineNotBase64",
                .text = signatureFile("untrusted comment: x", " " + signatureLine()),
                .refusal = Reason::malformedSignature},
        FormRow{.name = "SignatureOneByteShort",
                .text = signatureFile("untrusted comment: x", signatureLine("ED", 63)),
                .refusal = Reason::malformedSignature},
        FormRow{.name = "UnknownAlgorithm",
                .text = signatureFile("untrusted comment: x", signatureLine("Ex")),
                .refusal = Reason::unknownAlgorithm},
        FormRow{.name = "NoTrustedComment",
                .text = signatureFile("untrusted comment: x", signatureLine(),
                                      "untrusted comment: timestamp:5"),
                .refusal = Reason::malformedSignature},
        FormRow{.name = "GlobalSignatureOneByteLong",
                .text = signatureFile("untrusted comment: x", signatureLine(),
                                      "trusted comment: timestamp:5", globalLine(65)),
                .refusal = Reason::malformedSignature}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SignatureTimestampTest, IsADecimalFieldOfTheTrustedComment) {
  const std::vector<std::pair<std::string, std::optional<std::int64_t>>> cases = {
      {"timestamp:1700000000\tfile:Tolvane.jar\thashed", 1700000000},
      {"file:a\ttimestamp:0", 0},
      {"timestamp:9223372036854775807", INT64_MAX},
      {"timestamp:9223372036854775808", std::nullopt},
      {"timestamp:", std::nullopt},
      {"timestamp:-5", std::nullopt},
      {"timestamp:+5", std::nullopt},
      {"timestamp: 5", std::nullopt},
      {"timestamp:5x", std::nullopt},
      {"Timestamp:5", std::nullopt},
      {"file:timestamp:5", std::nullopt},
      {"file:a timestamp:5", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [comment, expected] : cases) {
    const auto signature = ReleaseSignature::parse(
        signatureFile("untrusted comment: x", signatureLine(), "trusted comment: " + comment));
    EXPECT_EQ(signature.timestamp(), expected) << comment;
  }
}

TEST_F(ReleaseSignatureTest, KeysAreReadFromTheirLineOrAWholePubFile) {
  const ReleasePublicKey fromLine = ReleasePublicKey::parse(" " + releaseKey_->publicKey() + "\n");
  const ReleasePublicKey fromFile =
      ReleasePublicKey::parse(test::readFile(releaseKey_->publicKeyFile()));
  EXPECT_EQ(fromLine.idText(), releaseKey_->keyId());
  EXPECT_EQ(fromFile.id, fromLine.id);
  EXPECT_EQ(fromFile.key, fromLine.key);
  EXPECT_TRUE(ReleaseKeys::parse(" ;\n\t; ").empty());
  // minisign prints an id as a number: no leading zeros.
  EXPECT_EQ(ReleasePublicKey::idText({0x7D, 0x77, 0x80, 0x50, 0xF5, 0x08, 0xDA, 0x04}),
            "4DA08F55080777D");
  EXPECT_EQ(ReleasePublicKey::idText({}), "0");

  const std::string key = releaseKey_->publicKey();
  const std::string bytes = *platform::decodeBase64(key);
  for (const std::string& malformed :
       {std::string("RWbogus"), key.substr(0, key.size() - 4),
        platform::encodeBase64(bytes + "xyz"), platform::encodeBase64("Ex" + bytes.substr(2)),
        std::string("untrusted comment: minisign public key\n"), key + " " + key}) {
    const auto error =
        test::thrown<ReleaseSignatureError>([&] { (void)ReleasePublicKey::parse(malformed); });
    ASSERT_TRUE(error.has_value()) << malformed;
    EXPECT_EQ(error->reason(), Reason::malformedKey);
  }
  // One bad key in a list refuses the list, naming the bad key.
  const auto error = test::thrown<ReleaseSignatureError>(
      [&] { (void)ReleaseKeys::parse(key + ";RWtypo " + otherKey_->publicKey()); });
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->reason(), Reason::malformedKey);
  EXPECT_NE(error->debugDescription().find("\"RWtypo\""), std::string::npos)
      << error->debugDescription();
}

TEST(VerifiedReleaseTest, RefusesOnlyAReleaseSignedBeforeTheInstalledOne) {
  const VerifiedRelease release{"0123456789ABCDEF", 1700000000, ""};
  release.refuseIfOlderThan(std::nullopt);
  release.refuseIfOlderThan(1700000000);
  release.refuseIfOlderThan(1600000000);
  const auto error =
      test::thrown<ReleaseSignatureError>([&] { release.refuseIfOlderThan(1700000001); });
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->reason(), Reason::olderRelease);
  EXPECT_EQ(error->debugDescription(),
            "The release's signature did not verify: the release signed by key 0123456789ABCDEF "
            "at 1700000000 (2023-11-14 22:13:20 UTC) is older than the installed one, signed at "
            "1700000001 (2023-11-14 22:13:21 UTC)");
}

TEST(ReleaseSignatureErrorTest, SpeaksTheUsersLanguage) {
  test::TemporaryHome home;
  home.setEnvironment("LANGUAGE", std::nullopt);
  home.setEnvironment("LC_MESSAGES", std::nullopt);
  home.setEnvironment("LANG", std::nullopt);
  const auto error = ReleaseSignatureError::badSignature("0123456789ABCDEF");
  home.setEnvironment("LC_ALL", "ru_RU.UTF-8");
  EXPECT_EQ(error.localizedDescription(),
            "Подпись выпуска не прошла проверку: подпись ключом 0123456789ABCDEF не "
            "соответствует файлу");
  home.setEnvironment("LC_ALL", "C");
  EXPECT_EQ(error.localizedDescription(),
            "The release's signature did not verify: the signature by key 0123456789ABCDEF "
            "does not match the file");
}

}  // namespace
}  // namespace tolvane
