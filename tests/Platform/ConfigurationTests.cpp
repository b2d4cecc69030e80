#include <gtest/gtest.h>

#include "Platform/Configuration.h"
#include "Support/TemporaryHome.h"

namespace tolvane::platform {
namespace {

TEST(ConfigurationTest, EnvironmentOverridesBuiltInOriginsWithoutTrailingSlash) {
  test::TemporaryHome home;
  home.setEnvironment("TOLVANE_UPDATE_ORIGIN", std::nullopt);
  home.setEnvironment("TOLVANE_SUPPORT_ORIGIN", "");
  home.setEnvironment("TOLVANE_CA_FILE", std::nullopt);
  home.setEnvironment("TOLVANE_RELEASE_PUBLIC_KEYS", std::nullopt);
  const std::string builtInKeys = Configuration::releasePublicKeys();
  home.setEnvironment("TOLVANE_RELEASE_PUBLIC_KEYS", "");
  EXPECT_EQ(Configuration::releasePublicKeys(), builtInKeys);
  EXPECT_EQ(Configuration::updateOrigin().rfind("https://", 0), 0u);
  EXPECT_EQ(Configuration::supportOrigin().rfind("https://", 0), 0u);  // empty = not set
  EXPECT_EQ(Configuration::caFile(), std::nullopt);

  home.setEnvironment("TOLVANE_UPDATE_ORIGIN", "https://127.0.0.1:4433//");
  home.setEnvironment("TOLVANE_SUPPORT_ORIGIN", "https://forum.test");
  home.setEnvironment("TOLVANE_CA_FILE", "/tmp/ca.pem");
  home.setEnvironment("TOLVANE_RELEASE_PUBLIC_KEYS", "RWkey1;RWkey2");
  EXPECT_EQ(Configuration::updateOrigin(), "https://127.0.0.1:4433");
  EXPECT_EQ(Configuration::supportOrigin(), "https://forum.test");
  EXPECT_EQ(Configuration::caFile(), "/tmp/ca.pem");
  EXPECT_EQ(Configuration::releasePublicKeys(), "RWkey1;RWkey2");
}

}  // namespace
}  // namespace tolvane::platform
