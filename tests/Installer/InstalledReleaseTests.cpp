#include "Installer/InstalledRelease.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

#include "Support/TemporaryHome.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using platform::UserDefaults;

// What happened to the jar after its release was recorded.
struct JarRow {
  const char* name;
  std::function<void(const fs::path& jar)> change;
  bool stillDescribed;
  friend void PrintTo(const JarRow& row, std::ostream* out) { *out << row.name; }
};

class InstalledReleaseTest : public ::testing::TestWithParam<JarRow> {
 protected:
  test::TemporaryHome home_;
  fs::path jar_ = home_.home() / "Tolvane" / "Tolvane.jar";
};

TEST_P(InstalledReleaseTest, DescribesOnlyTheJarItWasRecordedFor) {
  test::writeFile(jar_, "verified jar");
  InstalledRelease::store(UserDefaults::standard(), 1700000000, jar_);
  GetParam().change(jar_);

  const auto record = InstalledRelease::load(UserDefaults::standard());

  ASSERT_TRUE(record);
  EXPECT_EQ(record->timestamp, 1700000000);
  EXPECT_EQ(record->describes(jar_), GetParam().stillDescribed);
}

INSTANTIATE_TEST_SUITE_P(
    Jars, InstalledReleaseTest,
    ::testing::Values(JarRow{"Untouched", [](const fs::path&) {}, true},
                      // Another program's download of the same length, written later.
                      JarRow{"RewrittenLater",
                             [](const fs::path& jar) {
                               const auto written = fs::last_write_time(jar);
                               test::writeFile(jar, "unsigned jar");
                               fs::last_write_time(jar, written + std::chrono::seconds(1));
                             },
                             false},
                      JarRow{"OtherLengthSameTime",
                             [](const fs::path& jar) {
                               const auto written = fs::last_write_time(jar);
                               test::writeFile(jar, "a longer unsigned jar");
                               fs::last_write_time(jar, written);
                             },
                             false},
                      JarRow{"Removed", [](const fs::path& jar) { fs::remove(jar); }, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InstalledReleaseRecordTest, UnreadableRecordIsNone) {
  test::TemporaryHome home;
  for (const std::string data : {"", "{\"timestamp\":\"soon\"}", "{\"timestamp\":5}", "[1,2,3]"}) {
    UserDefaults::standard().set(data, InstalledRelease::kKey);
    EXPECT_FALSE(InstalledRelease::load(UserDefaults::standard())) << data;
  }
}

TEST(ReleaseKeysConfiguredTest, AMalformedKeyCountsAsConfigured) {
  test::TemporaryHome home;
  home.setEnvironment("TOLVANE_RELEASE_PUBLIC_KEYS", std::nullopt);
  EXPECT_FALSE(releaseKeysConfigured());
  home.setEnvironment("TOLVANE_RELEASE_PUBLIC_KEYS", "RWtypo");
  EXPECT_TRUE(releaseKeysConfigured());
}

}  // namespace
}  // namespace tolvane
