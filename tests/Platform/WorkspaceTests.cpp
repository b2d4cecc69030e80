#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "Platform/Workspace.h"
#include "Support/TemporaryHome.h"
#include "Support/WaitUntil.h"

namespace tolvane::platform {
namespace {

namespace fs = std::filesystem;
using Opener = Workspace::Opener;

const std::string kPage = "https://forum.tolvane.test/forum_support";

struct BrowserRow {
  const char* name = "";
  friend void PrintTo(const BrowserRow& row, std::ostream* out) { *out << row.name; }
  std::optional<std::string> browser = std::nullopt;
  // What $BROWSER adds between xdg-open and the fixed fallbacks.
  std::vector<Opener> fromBrowser = {};
};

class OpenerOrderTest : public testing::TestWithParam<BrowserRow> {
 protected:
  test::TemporaryHome home_;
};

TEST_P(OpenerOrderTest, XdgOpenThenBrowserThenTheFallbacks) {
  home_.setEnvironment("BROWSER", GetParam().browser);
  std::vector<Opener> expected{{"xdg-open", {kPage}}};
  expected.insert(expected.end(), GetParam().fromBrowser.begin(), GetParam().fromBrowser.end());
  expected.insert(
      expected.end(),
      {{"gio", {"open", kPage}}, {"sensible-browser", {kPage}}, {"x-www-browser", {kPage}}});
  EXPECT_EQ(Workspace::openers(kPage), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Browsers, OpenerOrderTest,
    testing::Values(
        BrowserRow{.name = "Unset"}, BrowserRow{.name = "Empty", .browser = ""},
        BrowserRow{.name = "ListInOrderAddressLast",
                   .browser = "firefox:chromium --new-window",
                   .fromBrowser = {{"firefox", {kPage}}, {"chromium", {"--new-window", kPage}}}},
        BrowserRow{.name = "PlaceholderPercentAndBlanks",
                   .browser = " /opt/b/browser\t--title=100%% --open=%s ::",
                   .fromBrowser = {{"/opt/b/browser", {"--title=100%", "--open=" + kPage}}}}),
    [](const auto& info) { return std::string(info.param.name); });

// Fake openers on a PATH of the test's own: each writes its name and arguments to one log.
class WorkspaceOpenTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(bin_);
    home_.setEnvironment("PATH", bin_.string());
    home_.setEnvironment("BROWSER", std::nullopt);
  }

  void install(const std::string& name, fs::perms permissions = fs::perms(0755),
               const std::string& interpreter = "/bin/sh") {
    test::writeFile(bin_ / name,
                    "#!" + interpreter + "\n{ printf '%s' \"${0##*/}\"; for a in \"$@\"; do " +
                        "printf ' [%s]' \"$a\"; done; echo; } >> '" + log_.string() + "'\n",
                    permissions);
  }

  // The log once an opener has finished writing its line.
  std::string opened() const {
    std::string text;
    test::waitUntil([&] {
      text = fs::exists(log_) ? test::readFile(log_) : "";
      return !text.empty() && text.back() == '\n';
    });
    return text;
  }

  test::TemporaryHome home_;
  const fs::path bin_ = home_.root() / "bin";
  const fs::path log_ = home_.root() / "opened.log";
};

TEST_F(WorkspaceOpenTest, XdgOpenWhenItIsThere) {
  install("xdg-open");
  install("fake-browser");
  home_.setEnvironment("BROWSER", "fake-browser");
  EXPECT_TRUE(Workspace::open(kPage));
  EXPECT_EQ(opened(), "xdg-open [" + kPage + "]\n");
}

TEST_F(WorkspaceOpenTest, FirstOpenerThatStartsWhenXdgOpenCannot) {
  install("xdg-open", fs::perms(0644));  // not a program
  install("broken-browser", fs::perms(0755), "/nonexistent/sh");
  install("fake-browser");
  install("gio");
  home_.setEnvironment("BROWSER", "missing-browser:broken-browser:fake-browser --new-tab");
  EXPECT_TRUE(Workspace::open(kPage));
  EXPECT_EQ(opened(), "fake-browser [--new-tab] [" + kPage + "]\n");
}

TEST_F(WorkspaceOpenTest, NothingToOpenWith) { EXPECT_FALSE(Workspace::open(kPage)); }

}  // namespace
}  // namespace tolvane::platform
