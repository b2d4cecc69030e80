#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Platform/SystemError.h"
#include "Platform/UserDefaults.h"
#include "Support/TemporaryHome.h"

namespace tolvane::platform {
namespace {

namespace fs = std::filesystem;

class UserDefaultsTest : public ::testing::Test {
 protected:
  test::TemporaryHome home_;
  UserDefaults defaults_;
  fs::path file_ = home_.configHome() / "tolvane-installer" / "defaults.json";
};

TEST_F(UserDefaultsTest, ArbitraryBytesSurviveTheFileAndAnotherInstance) {
  std::string everyByte;
  for (int i = 0; i < 256; ++i) everyByte += static_cast<char>(i);
  for (const std::string& value : {everyByte, std::string(), std::string("a"), std::string("ab")}) {
    defaults_.set(value, "blob");
    EXPECT_EQ(UserDefaults().data("blob"), value);
  }
  EXPECT_EQ(defaults_.fileURL(), file_);
  EXPECT_TRUE(fs::is_regular_file(file_));
  EXPECT_EQ(defaults_.data("other"), std::nullopt);
  defaults_.removeObject("blob");
  EXPECT_EQ(defaults_.data("blob"), std::nullopt);
}

TEST_F(UserDefaultsTest, FallsBackToDotConfigInHome) {
  home_.setEnvironment("XDG_CONFIG_HOME", std::nullopt);
  defaults_.set("v", "k");
  EXPECT_TRUE(fs::exists(home_.home() / ".config" / "tolvane-installer" / "defaults.json"));
}

TEST_F(UserDefaultsTest, SeesWhatAnotherProcessWrote) {
  defaults_.set("old", "k");
  test::writeFile(file_, R"({"k":"bmV3"})");  // "new"
  EXPECT_EQ(defaults_.data("k"), "new");
}

TEST_F(UserDefaultsTest, CorruptOrForeignContentReadsAsNoEntriesAndIsReplaced) {
  for (const char* content :
       {"{\"k\": \"Zm9v", "[1,2]", "\xff\xfe", R"({"k": 5})", R"({"k": "!!!!"})"}) {
    test::writeFile(file_, content);
    EXPECT_EQ(defaults_.data("k"), std::nullopt) << content;
  }
  defaults_.set("fresh", "k");
  EXPECT_EQ(defaults_.data("k"), "fresh");
}

TEST_F(UserDefaultsTest, FailedWriteThrowsAndKeepsThePreviousDocument) {
  home_.setEnvironment("XDG_CONFIG_HOME", (home_.root() / "blocked").string());
  test::writeFile(home_.root() / "blocked", "a file where the folder should be");
  EXPECT_THROW(defaults_.set("v", "k"), SystemError);
  EXPECT_EQ(test::readFile(home_.root() / "blocked"), "a file where the folder should be");
}

TEST_F(UserDefaultsTest, ConcurrentWritersLoseNoKeyAndLeaveNoTemporaryFiles) {
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([this, t] {
      for (int i = 0; i < 5; ++i) defaults_.set(std::to_string(i), "key" + std::to_string(t));
    });
  }
  for (auto& writer : writers) writer.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(defaults_.data("key" + std::to_string(t)), "4");
  EXPECT_EQ(std::distance(fs::directory_iterator(file_.parent_path()), fs::directory_iterator()),
            1);
}

}  // namespace
}  // namespace tolvane::platform
