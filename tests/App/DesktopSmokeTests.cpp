#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>

#include "Support/BuildPaths.h"
#include "Support/ChildProgram.h"
#include "Support/FakeRuntime.h"
#include "Support/LoopbackServer.h"
#include "Support/TemporaryHome.h"
#include "Support/WaitUntil.h"
#include "X11Windows.h"

namespace tolvane::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path kProgram = test::buildFolder() / "bin" / "tolvane-installer";
const fs::path kArtifacts = test::buildFolder() / "test-artifacts" / "app";

// The predicates below run X11 tools; no need to ask more often than this.
bool waitFor(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
  return waitUntil(predicate, timeout, 20ms);
}

// An X server of our own. Xvfb picks a free display number itself and writes it to
// standard output once it accepts connections, so tests running at once never collide. It
// does not reset when its last client leaves: a program connecting during a reset (after a
// test's own xwininfo, say) would find no display.
class VirtualDisplay {
 public:
  VirtualDisplay()
      : server_("/usr/bin/Xvfb",
                {"-displayfd", "1", "-noreset", "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
                kArtifacts, "xvfb-" + std::to_string(::getpid())) {
    std::string output;
    waitUntil(
        [&] {
          output = server_.standardOutput();
          return output.find('\n') != std::string::npos || !server_.isRunning();
        },
        10s, 5ms);
    if (output.find('\n') != std::string::npos && server_.isRunning())
      name_ = ":" + output.substr(0, output.find('\n'));
  }
  [[nodiscard]] bool isUp() const { return !name_.empty(); }
  [[nodiscard]] const std::string& name() const { return name_; }

  // Runs an X11 tool against this display.
  std::string x(const std::string& command, int* status = nullptr) const {
    return commandOutput("DISPLAY=" + name_ + " " + command + " 2>/dev/null", status);
  }
  // The id (decimal) of a mapped window titled exactly `title`, other than `other`; "" after
  // `timeout`. Read from the window tree: xdotool's name search misses non-Latin titles.
  std::string findWindow(const std::string& title, std::chrono::milliseconds timeout,
                         const std::string& other = "") const {
    std::string id;
    const std::regex entry("(0x[0-9a-f]+) \"" + title + "\":");
    waitFor(
        [&] {
          const std::string tree = x("xwininfo -root -tree");
          for (auto it = std::sregex_iterator(tree.begin(), tree.end(), entry);
               it != std::sregex_iterator(); ++it) {
            const std::string candidate = std::to_string(std::stoul((*it)[1], nullptr, 16));
            if (candidate == other || !isViewable(candidate)) continue;
            id = candidate;
            return true;
          }
          return false;
        },
        timeout);
    return id;
  }
  [[nodiscard]] bool isViewable(const std::string& window) const {
    return x("xwininfo -id " + window).find("IsViewable") != std::string::npos;
  }
  // Closes it the way the close box does.
  void close(const std::string& window) const { requestClose(name_, std::stoul(window)); }
  [[nodiscard]] bool isAbove(const std::string& upper, const std::string& lower) const {
    return isStackedAbove(name_, std::stoul(upper), std::stoul(lower));
  }
  void screenshot(const std::string& fileName) const {
    x("import -window root '" + (kArtifacts / fileName).string() + "'");
  }

 private:
  ChildProgram server_;
  std::string name_;
};

struct Geometry {
  int x = -1, y = -1, width = -1, height = -1;
};

Geometry geometry(const VirtualDisplay& display, const std::string& window) {
  const std::string info = display.x("xwininfo -id " + window);
  const auto field = [&](const std::string& label) {
    std::smatch m;
    return std::regex_search(info, m, std::regex(label + R"(:\s+(-?\d+))")) ? std::stoi(m[1]) : -1;
  };
  return {field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"),
          field("Height")};
}

class DesktopSmokeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"/usr/bin/Xvfb", "/usr/bin/xdotool", "/usr/bin/xwininfo",
                             "/usr/bin/xprop", "/usr/bin/import"}) {
      if (!fs::exists(tool)) GTEST_SKIP() << tool << " is not installed";
    }
    ASSERT_TRUE(fs::is_directory(test::resourceFolder())) << "the resources are not built";
    // The built resources, but a runtime archive of a few bytes: unpacking the real one
    // would take most of each run, and the launcher is never started here.
    for (const auto& entry : fs::directory_iterator(test::resourceFolder())) {
      if (entry.path().filename() != "java.zip")
        fs::copy_file(entry.path(), home_.resources() / entry.path().filename());
    }
    FakeRuntime::writeArchive(home_.resources() / "java.zip", home_.root() / "launch.txt");
    fs::create_directories(kArtifacts);
    display_ = std::make_unique<VirtualDisplay>();
    ASSERT_TRUE(display_->isUp());

    // The update server answers every manifest request with an error, so a clean home
    // ends in the alert; it counts the attempts. A test can hold the first answer back.
    server_.get("/loaderv3.php", [this](const httplib::Request&, httplib::Response& response) {
      while (holdManifest_ && server_.pause(10ms)) {
      }
      response.status = 500;
      response.set_content("down for maintenance", "text/plain");
    });
    home_.setEnvironment("DISPLAY", display_->name());
    home_.setEnvironment("WAYLAND_DISPLAY", std::nullopt);
    home_.setEnvironment("NO_AT_BRIDGE", "1");
    home_.setEnvironment("TOLVANE_UPDATE_ORIGIN", server_.url(""));
    home_.setEnvironment("TOLVANE_RETRY_DELAY_SECONDS", "0");
    // The session's runtime folder, where the instances find each other.
    fs::create_directory(runtimeFolder());
    fs::permissions(runtimeFolder(), fs::perms::owner_all);
    home_.setEnvironment("XDG_RUNTIME_DIR", runtimeFolder().string());
  }

  fs::path runtimeFolder() const { return home_.root() / "runtime"; }

  // `environment` ("NAME=value") is the program's alone, not the X11 tools'.
  std::unique_ptr<ChildProgram> launch(const std::string& name,
                                       std::vector<std::string> environment = {}) {
    if (environment.empty())
      return std::make_unique<ChildProgram>(kProgram, std::vector<std::string>{}, kArtifacts, name);
    environment.push_back(kProgram.string());
    return std::make_unique<ChildProgram>("/usr/bin/env", environment, kArtifacts, name);
  }

  // Starts the program with the first manifest answer held back and closes its window while
  // the run waits, which only hides it. The window's id, or "" when that went wrong.
  std::string launchAndHide(std::unique_ptr<ChildProgram>& program, const std::string& name,
                            std::vector<std::string> environment = {}) {
    holdManifest_ = true;
    program = launch(name, std::move(environment));
    const std::string window = display_->findWindow("Tolvane", 20s);
    if (window.empty()) return "";
    display_->close(window);
    return waitFor([&] { return !display_->isViewable(window); }, 10s) ? window : "";
  }

  // Gives the alert the keyboard and types `keys` into it.
  void typeInto(const std::string& window, const std::string& keys) {
    display_->x("xdotool windowfocus --sync " + window);
    display_->x("xdotool key --delay 20 " + keys);
  }

  fs::path windowConfig() const { return home_.configHome() / "tolvane-installer" / "window.ini"; }

  TemporaryHome home_;
  std::atomic<bool> holdManifest_{false};
  LoopbackServer server_{LoopbackServer::plainHTTP()};
  std::unique_ptr<VirtualDisplay> display_;
};

TEST_F(DesktopSmokeTest, WindowAlertRetryAndRememberedFrame) {
  auto program = launch("first-run");
  const std::string window = display_->findWindow("Tolvane", 20s);
  ASSERT_FALSE(window.empty()) << program->standardError();

  // Logo (128) and two margins of 32 across; the status line adds its own height below
  // the logo and the stack's gap.
  const Geometry size = geometry(*display_, window);
  EXPECT_EQ(size.width, 192);
  EXPECT_GE(size.height, 32 + 128 + 8 + 12 + 32);
  EXPECT_LE(size.height, 32 + 128 + 8 + 48 + 32);
  // Not resizable: the window manager is told the only size allowed is the current one.
  const std::string hints = display_->x("xprop -id " + window + " WM_NORMAL_HINTS");
  const std::string exact = std::to_string(size.width) + " by " + std::to_string(size.height);
  EXPECT_NE(hints.find("minimum size: " + exact), std::string::npos) << hints;
  EXPECT_NE(hints.find("maximum size: " + exact), std::string::npos) << hints;
  // Docks match the window to the menu entry by its class, and show the logo as its icon.
  const std::string entry =
      readFile(test::buildFolder() / "share/applications/net.tolvane.installer.desktop");
  std::smatch startupClass;
  ASSERT_TRUE(std::regex_search(entry, startupClass, std::regex("\nStartupWMClass=(.+)\n")));
  const std::string wmClass = display_->x("xprop -id " + window + " WM_CLASS");
  EXPECT_TRUE(std::regex_search(wmClass, std::regex(", \"" + startupClass[1].str() + "\"\n")))
      << wmClass;
  EXPECT_NE(display_->x("xprop -id " + window + " -len 8 _NET_WM_ICON").find("Icon (256 x 256)"),
            std::string::npos);

  // The runtime is unpacked, then all four manifest attempts fail: the alert.
  const std::string alert = display_->findWindow("Ошибка", 120s);
  ASSERT_FALSE(alert.empty()) << program->standardError();
  const std::size_t firstRunRequests = server_.requestCount();
  EXPECT_EQ(firstRunRequests, 4u);
  display_->screenshot("alert.png");

  // Return presses the default button: a second run, with its own manifest requests.
  typeInto(alert, "Return");
  const std::string secondAlert = display_->findWindow("Ошибка", 60s, alert);
  ASSERT_FALSE(secondAlert.empty());
  EXPECT_EQ(server_.requestCount(), 2 * firstRunRequests);

  // Escape is no button: the alert goes, the window and the program stay. A second instance
  // finds it still answering, leaves it alone and ends at once.
  typeInto(secondAlert, "Escape");
  ASSERT_TRUE(waitFor([&] { return display_->findWindow("Ошибка", 0ms).empty(); }, 10s));
  auto intruder = launch("second-instance");
  EXPECT_EQ(intruder->waitForExit(10s), 0);
  EXPECT_NE(intruder->standardError().find("already running"), std::string::npos)
      << intruder->standardError();
  EXPECT_TRUE(program->isRunning());
  EXPECT_EQ(server_.requestCount(), 2 * firstRunRequests);
  display_->screenshot("window.png");

  // Moved, then ended by the session: the frame is written on the way out.
  display_->x("xdotool windowmove --sync " + window + " 40 50");
  program->signal(SIGTERM);
  EXPECT_EQ(program->waitForExit(10s), 0);
  ASSERT_TRUE(fs::exists(windowConfig()));
  const std::string saved = readFile(windowConfig());
  EXPECT_NE(saved.find("MainWindow"), std::string::npos) << saved;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(saved, m, std::regex(R"(\bx=(-?\d+)[\s\S]*\by=(-?\d+))"))) << saved;
  const int savedX = std::stoi(m[1]);
  const int savedY = std::stoi(m[2]);

  // The next start puts the window back where it was.
  auto again = launch("second-run");
  const std::string reopened = display_->findWindow("Tolvane", 20s);
  ASSERT_FALSE(reopened.empty()) << again->standardError();
  const Geometry restored = geometry(*display_, reopened);
  EXPECT_EQ(restored.x, savedX);
  EXPECT_EQ(restored.y, savedY);
  EXPECT_EQ(restored.width, size.width);
  EXPECT_EQ(restored.height, size.height);

  // The close button ("Закрыть", third) ends the program without another run.
  const std::string thirdAlert = display_->findWindow("Ошибка", 60s);
  ASSERT_FALSE(thirdAlert.empty());
  const std::size_t before = server_.requestCount();
  typeInto(thirdAlert, "Tab Tab space");
  EXPECT_EQ(again->waitForExit(10s), 0);
  EXPECT_EQ(server_.requestCount(), before);
}

// Closed during the run, the window only hides; the alert that follows must not leave a
// program that nothing on screen belongs to.
TEST_F(DesktopSmokeTest, AlertDismissedWhileTheWindowIsHiddenQuits) {
  std::unique_ptr<ChildProgram> program;
  const std::string window = launchAndHide(program, "hidden-alert");
  ASSERT_FALSE(window.empty()) << program->standardError();
  ASSERT_TRUE(program->isRunning());

  holdManifest_ = false;
  const std::string alert = display_->findWindow("Ошибка", 60s);
  ASSERT_FALSE(alert.empty()) << program->standardError();
  typeInto(alert, "Escape");
  EXPECT_EQ(program->waitForExit(10s), 0);
  EXPECT_EQ(server_.requestCount(), 4u) << "no second run";
}

// A retry chosen while the window is closed shows it for the new run. The support button
// then works on a desktop without xdg-open (a minimal install): $BROWSER opens the page, no
// box of the toolkit's waits for an answer, and the program quits.
TEST_F(DesktopSmokeTest, RetryShowsTheClosedWindowAndSupportFallsBackToBrowser) {
  const fs::path bin = home_.root() / "bin";
  const fs::path opened = home_.root() / "opened.txt";
  writeFile(bin / "fake-browser", "#!/bin/sh\necho \"$@\" > '" + opened.string() + "'\n",
            fs::perms(0755));
  const std::string page = "https://forum.tolvane.test/forum_support";
  std::unique_ptr<ChildProgram> program;
  const std::string window = launchAndHide(program, "retry-support",
                                           {"PATH=" + bin.string(), "BROWSER=fake-browser",
                                            "TOLVANE_SUPPORT_ORIGIN=https://forum.tolvane.test"});
  ASSERT_FALSE(window.empty()) << program->standardError();

  holdManifest_ = false;
  const std::string alert = display_->findWindow("Ошибка", 60s);
  ASSERT_FALSE(alert.empty()) << program->standardError();
  typeInto(alert, "Return");
  EXPECT_TRUE(waitFor([&] { return display_->isViewable(window); }, 10s))
      << "the retry ran with nothing on screen";

  const std::string secondAlert = display_->findWindow("Ошибка", 60s, alert);
  ASSERT_FALSE(secondAlert.empty()) << program->standardError();
  EXPECT_EQ(server_.requestCount(), 8u);
  typeInto(secondAlert, "Tab space");
  EXPECT_EQ(program->waitForExit(10s), 0) << program->standardError();
  EXPECT_TRUE(waitFor([&] { return fs::exists(opened) && readFile(opened) == page + "\n"; }, 10s))
      << (fs::exists(opened) ? readFile(opened) : "nothing opened");
}

TEST_F(DesktopSmokeTest, SecondLaunchBringsTheFirstToFront) {
  // The socket of an instance that crashed is still there; the next one listens anyway.
  const fs::path socketPath = runtimeFolder() / "tolvane-installer.sock";
  {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof(address.sun_path) - 1);
    const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(stale);
  }

  std::unique_ptr<ChildProgram> first;
  const std::string window = launchAndHide(first, "front-first");
  ASSERT_FALSE(window.empty()) << first->standardError();
  EXPECT_EQ(fs::status(socketPath).permissions() & (fs::perms::group_all | fs::perms::others_all),
            fs::perms::none);

  auto second = launch("front-second");
  EXPECT_EQ(second->waitForExit(10s), 0);
  EXPECT_NE(second->standardError().find("brought to the front"), std::string::npos)
      << second->standardError();
  EXPECT_TRUE(waitFor([&] { return display_->isViewable(window); }, 10s))
      << "the hidden window stayed hidden";

  // The alert under another program's window comes back on top of it.
  holdManifest_ = false;
  const std::string alert = display_->findWindow("Ошибка", 60s);
  ASSERT_FALSE(alert.empty()) << first->standardError();
  ChildProgram other("/usr/bin/xmessage", {"another program"}, kArtifacts, "xmessage");
  const std::string otherWindow = display_->findWindow("xmessage", 10s);
  ASSERT_FALSE(otherWindow.empty());
  ASSERT_TRUE(display_->isAbove(otherWindow, alert));
  auto third = launch("front-third");
  EXPECT_EQ(third->waitForExit(10s), 0);
  EXPECT_TRUE(waitFor([&] { return display_->isAbove(alert, otherWindow); }, 10s));

  typeInto(alert, "Tab Tab space");
  EXPECT_EQ(first->waitForExit(10s), 0);
  EXPECT_EQ(server_.requestCount(), 4u);
}

}  // namespace
}  // namespace tolvane::test
