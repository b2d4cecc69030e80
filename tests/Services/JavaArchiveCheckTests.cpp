#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>

#include "Services/JavaArchiveCheck.h"
#include "Services/RefusedBodyError.h"
#include "Support/TemporaryDirectory.h"
#include "Support/TemporaryHome.h"
#include "Support/TestArchives.h"

namespace tolvane::test {
namespace {

struct BodyCase {
  const char* name;
  std::string body;
  bool accepted;
  friend void PrintTo(const BodyCase& row, std::ostream* out) { *out << row.name; }
};

class JavaArchiveCheckTest : public ::testing::TestWithParam<BodyCase> {
 protected:
  TemporaryDirectory folder_;
};

TEST_P(JavaArchiveCheckTest, AcceptsOnlyAWholeZipArchive) {
  const auto file = folder_.path() / "body";
  writeFile(file, GetParam().body);

  const auto result = checkJavaArchive(file);

  ASSERT_EQ(result.isSuccess(), GetParam().accepted);
  if (result.isSuccess()) return;
  const auto* refusal = dynamic_cast<const RefusedBodyError*>(result.error().get());
  ASSERT_NE(refusal, nullptr);
  EXPECT_EQ(refusal->reason(), RefusedBodyError::Reason::notAJavaArchive);
}

const std::string kJar = testJarOfSize(10'000, 1);
const std::string kOtherJar = testJarOfSize(10'000, 2);

INSTANTIATE_TEST_SUITE_P(
    Bodies, JavaArchiveCheckTest,
    ::testing::Values(
        BodyCase{"Jar", kJar, true}, BodyCase{"MaintenancePage", "<html>maintenance</html>", false},
        BodyCase{"Empty", "", false},
        // An end-of-central-directory record and nothing else.
        BodyCase{"EmptyArchive", std::string("PK\x05\x06", 4) + std::string(18, '\0'), false},
        BodyCase{"CutShort", kJar.substr(0, kJar.size() - 100), false},
        // One version's head with another's central directory.
        BodyCase{"TwoVersionsSpliced", kJar.substr(0, 4000) + kOtherJar.substr(4000), false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RefusedBodyErrorTest, SaysWhatWasWrongInTheUsersLanguage) {
  const RefusedBodyError error(RefusedBodyError::Reason::notAJavaArchive, "Not a zip archive");
  TemporaryHome environment;
  environment.setEnvironment("LANGUAGE", std::nullopt);
  environment.setEnvironment("LC_ALL", "ru_RU.UTF-8");
  EXPECT_EQ(error.localizedDescription(), "Загруженный файл не является Java-архивом.");
  environment.setEnvironment("LC_ALL", "en_GB.UTF-8");
  EXPECT_EQ(error.localizedDescription(), "The downloaded file is not a Java archive.");
  EXPECT_EQ(error.debugDescription(), "notAJavaArchive: Not a zip archive");
}

}  // namespace
}  // namespace tolvane::test
