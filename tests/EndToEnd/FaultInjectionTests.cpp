#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "App/InstallerSteps.h"
#include "EndToEnd/HeadlessRunFixture.h"
#include "Installer/InstalledRelease.h"
#include "Support/Minisign.h"
#include "Support/WaitUntil.h"

// The program against servers, disks and machines that misbehave: one run per outcome the
// player sees. Every case checks what the player is told and that the launcher jar and the
// stored entry are left the way a sound program leaves them. The variants of each fault
// (statuses, manifest shapes, time-outs, redirects) are checked in the layers that handle them.
namespace tolvane::test {
namespace {

namespace fs = std::filesystem;

const std::string kNewPath = "files/v2.jar";
const std::string kCreateFolderFailed = "Ошибка при создании папки:\n\n";
const std::string kLaunchFailed = "Не удалось запустить лаунчер при помощи JDK:\n\n";

std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

bool isRoot() { return ::geteuid() == 0; }

// Root alone is not enough in a container without the right to mount.
bool canMount() {
  if (!isRoot()) return false;
  platform::Process probe("/usr/bin/unshare", {"--mount", "--propagation", "private", "/bin/sh",
                                               "-c", "mount -t tmpfs none /mnt"});
  probe.run();
  return probe.waitUntilExit().succeeded();
}

// A fixture whose scripted routes win over the generic release and manifest routes: they
// are registered first, and the server tries routes in order.
class ScriptedServerTest : public HeadlessRunTest {
 protected:
  virtual void scriptServer() {}

  void SetUp() override {
    scriptServer();
    HeadlessRunTest::SetUp();
  }

  // Version 1 is installed and the manifest now names version 2 at kNewPath.
  void offerVersionTwo() {
    installVersionOne();
    if (HasFatalFailure()) return;
    setManifest({{kNewPath, "hash-2", 11}});
  }

  // Version 1 is still installed byte for byte and still recorded as installed, so the
  // next good run downloads version 2 again; no staging file is left behind.
  void expectVersionOneKept() {
    EXPECT_TRUE(readFile(jar()) == kVersionOne) << "version 1 was not kept";
    EXPECT_EQ(storedHash(), "hash-1");
    EXPECT_FALSE(fs::exists(workFolder() / ".Tolvane.jar.download"));
  }
};

// ---- Faults the update server causes ---------------------------------------------------------

// A body cut short at every attempt, with the validators nginx and Apache send: the transport
// keeps a partial file after each attempt, which must not outlive the run.
class CutShortDownloadTest : public ScriptedServerTest {
 protected:
  void scriptServer() override {
    server_.shortBody(
        "/" + kNewPath, 100000, "the first bytes of version 2",
        {{"ETag", "\"5f3a-2b\""}, {"Last-Modified", "Mon, 07 Dec 2026 10:00:00 GMT"}});
  }
};

TEST_F(CutShortDownloadTest, OldJarAndEntrySurviveAndTheLastFailureIsReported) {
  offerVersionTwo();

  expectFailed(
      runInstaller(), kUpdating,
      kCheckFailedPrefix + retryFailedText(taskFailed("The network connection was lost.")));

  expectVersionOneKept();
  EXPECT_EQ(newDownloads(), std::vector<std::string>(4, "/" + kNewPath));
}

// A maintenance page served with 200 until the server is healthy again: it never becomes the
// jar, the player is told why, and the next healthy run installs the new version.
class MaintenancePageTest : public ScriptedServerTest {
 protected:
  void scriptServer() override {
    server_.get("/" + kNewPath, [this](const httplib::Request&, httplib::Response& response) {
      if (healthy_) {
        response.set_content(kVersionTwo, "application/java-archive");
      } else {
        response.set_content("<html>maintenance</html>", "text/html");
      }
    });
  }
  std::atomic<bool> healthy_{false};
};

TEST_F(MaintenancePageTest, IsRefusedInThePlayersLanguageAndTheNextRunRecovers) {
  offerVersionTwo();
  home_.setEnvironment("LANGUAGE", std::nullopt);
  home_.setEnvironment("LC_ALL", "ru_RU.UTF-8");

  expectFailed(runInstaller(), kUpdating,
               kCheckFailedPrefix + retryFailedText("Custom response validation failed with "
                                                    "error: Загруженный файл не является "
                                                    "Java-архивом.",
                                                    kGaveUpInRussian));
  expectVersionOneKept();
  EXPECT_EQ(newDownloads(), std::vector<std::string>(4, "/" + kNewPath));

  healthy_ = true;
  expectLaunched(runInstaller(), kUpdating);
  EXPECT_EQ(readFile(jar()), kVersionTwo);
  EXPECT_EQ(storedHash(), "hash-2");
}

// A release signed with a key the installer does not know, as whoever took over the release
// folder would sign it: refused like any other bad body, and --verbose names the key and why.
class ForeignSignatureTest : public ScriptedServerTest {
 protected:
  void SetUp() override {
    ScriptedServerTest::SetUp();
    fs::create_directories(keys_);
  }
  const fs::path keys_ = home_.root() / "keys";
};

TEST_F(ForeignSignatureTest, IsRefusedNamingTheKeyAndVersionOneIsKept) {
  const MinisignKey releaseKey(keys_, "release");
  const MinisignKey foreignKey(keys_, "foreign");
  offerVersionTwo();
  InstalledRelease::store(platform::UserDefaults::standard(), 1700000000, jar());
  const auto record = platform::UserDefaults::standard().data(InstalledRelease::kKey);
  const fs::path upload = keys_ / "v2.jar";
  writeFile(upload, kVersionTwo);
  publish(kNewPath, kVersionTwo);
  publish(kNewPath + ".minisig", readFile(foreignKey.sign(upload)));
  home_.setEnvironment("TOLVANE_RELEASE_PUBLIC_KEYS", releaseKey.publicKey());

  const auto outcome = finishInstaller(*startInstaller({}, "run", "--verbose"));

  const std::string refusal =
      "Custom response validation failed with error: The release's signature did not verify: "
      "it was made with key " +
      foreignKey.keyId() + ", which is not a release key";
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_EQ(outcome.out, kUpdating);
  EXPECT_NE(outcome.err.find("HTTP GET " + server_.url("/" + kNewPath) +
                             " attempt 4: validation failed (" + refusal + ")\n"),
            std::string::npos)
      << outcome.err;
  EXPECT_TRUE(outcome.err.ends_with(alertText(kCheckFailedPrefix + retryFailedText(refusal))))
      << outcome.err;
  EXPECT_FALSE(FakeRuntime::readRecord(launchRecord())) << "the launcher was started";
  expectVersionOneKept();
  EXPECT_EQ(platform::UserDefaults::standard().data(InstalledRelease::kKey), record);
  EXPECT_EQ(newDownloads(),
            (std::vector<std::string>{"/" + kNewPath + ".minisig", "/" + kNewPath, "/" + kNewPath,
                                      "/" + kNewPath, "/" + kNewPath}));
}

// ---- The player's machine ----------------------------------------------------------------------

class MachineFaultTest : public ScriptedServerTest {
 protected:
  // The child in a mount namespace of its own, so mounts never reach the rest of the system.
  static ChildSetup withMounts(std::string commands) {
    return {{"/usr/bin/unshare", "--mount", "--propagation", "private"},
            std::move(commands) + " || exit 98\n"};
  }
};

TEST_F(MachineFaultTest, RegularFileWhereTheWorkFolderBelongs) {
  writeFile(workFolder(), "a player's own file");

  expectFailed(runInstaller(), kInstalling,
               kCreateFolderFailed +
                   "The file “Tolvane” couldn’t be saved in the folder “home with space” because "
                   "a file with the same name already exists.");

  EXPECT_EQ(readFile(workFolder()), "a player's own file");
  EXPECT_FALSE(storedEntry());
}

TEST_F(MachineFaultTest, DiskFillingUpDuringTheDownload) {
  offerVersionTwo();
  publish(kNewPath, testJarOfSize(2 * 1024 * 1024));

  // Every file the program writes is limited to 1 MiB (room for the settings and the
  // transport's certificate bundle); the jar needs more.
  const auto outcome = runInstaller({{"/usr/bin/prlimit", "--fsize=1048576"}, ""});

  // Named as the player knows it: its name on the server, in the download's folder.
  expectFailed(outcome, kUpdating,
               kCheckFailedPrefix + retryFailedText(taskFailed(
                                        "The file “v2.jar” couldn’t be saved because it is too "
                                        "large.")));
  expectVersionOneKept();
  EXPECT_EQ(newDownloads().size(), 4u);
}

TEST_F(MachineFaultTest, SettingsNotWritable) {
  if (!canMount()) GTEST_SKIP() << "needs the right to mount (root, mount namespaces)";
  const fs::path folder = settingsFile().parent_path();
  fs::create_directories(folder);
  const ChildSetup readOnlySettings =
      withMounts("mount --bind " + quoted(folder) + " " + quoted(folder) +
                 " && mount -o remount,bind,ro " + quoted(folder));
  publish("files/Tolvane.jar", kVersionOne);
  setManifest({{"files/Tolvane.jar", "hash-1", 11}});

  // Nothing can be remembered, so nothing can be downloaded on a clean machine.
  expectFailed(runInstaller(readOnlySettings), kInstalling,
               kCheckFailedPrefix +
                   "The file “defaults.json” couldn’t be saved because the volume is read only.");
  EXPECT_FALSE(fs::exists(jar()));

  // With a jar in place, that jar is started and the stored entry stays as it was.
  installVersionOne();
  setManifest({{kNewPath, "hash-2", 11}});
  expectLaunched(runInstaller(readOnlySettings), kUpdating);
  EXPECT_TRUE(newDownloads().empty());
  EXPECT_EQ(readFile(jar()), kVersionOne);
  EXPECT_EQ(storedHash(), "hash-1");
}

TEST_F(MachineFaultTest, RuntimeNotExecutable) {
  installVersionOne();
  const fs::path java = workFolder() / "java" / "bin" / "java";
  fs::permissions(java, fs::perms(0644));

  expectFailed(
      runInstaller(), kUpdating,
      kLaunchFailed + "You don’t have permission to run the file “java” in the folder “bin”.");

  EXPECT_EQ(readFile(jar()), kVersionOne);
  EXPECT_EQ(storedHash(), "hash-1");
}

// ---- A run killed in the middle of the download ------------------------------------------------

class KilledDownloadTest : public ScriptedServerTest {
 protected:
  static constexpr std::size_t kSize = 512 * 1024;
  // 64 KiB every 50 ms: the download takes most of half a second, time to kill the program.
  void scriptServer() override {
    writeFile(release_, testJarOfSize(kSize));
    server_.serveFile("/" + kNewPath, release_, "\"v2\"", std::chrono::milliseconds(50));
  }
  // The installer runs under `timeout`, which the shell became.
  static pid_t installerUnder(pid_t timeoutProcess) {
    const std::string id = std::to_string(timeoutProcess);
    return static_cast<pid_t>(
        std::stol("0" + readFile("/proc/" + id + "/task/" + id + "/children")));
  }
  const fs::path release_ = home_.root() / "v2.jar";
};

TEST_F(KilledDownloadTest, TheNextRunStillUpdates) {
  offerVersionTwo();
  auto process = startInstaller();
  ASSERT_TRUE(waitUntil([&] {
    const auto requests = server_.requests();
    return !requests.empty() && requests.back().path == "/" + kNewPath;
  }));
  const pid_t installer = installerUnder(process->processIdentifier());
  ASSERT_GT(installer, 0);
  // Killed once the body is being written to its nameless file in the download folder.
  const fs::path descriptors = "/proc/" + std::to_string(installer) + "/fd";
  const std::string partialFolder = (workFolder() / ".Tolvane.jar.partial").string();
  ASSERT_TRUE(waitUntil([&] {
    std::error_code error;
    for (fs::directory_iterator it(descriptors, error), end; !error && it != end;
         it.increment(error)) {
      if (fs::read_symlink(it->path(), error).string().starts_with(partialFolder)) return true;
    }
    return false;
  }));
  ASSERT_EQ(::kill(installer, SIGKILL), 0);
  process->waitUntilExit();
  expectVersionOneKept();
  EXPECT_EQ(temporaryFilesLeft(), std::vector<std::string>{});  // the partial file had no name

  expectLaunched(runInstaller(), kUpdating);
  EXPECT_TRUE(readFile(jar()) == testJarOfSize(kSize)) << "the jar is not version 2";
  EXPECT_EQ(storedHash(), "hash-2");
}

// ---- Two instances at once ---------------------------------------------------------------------

class TwoInstancesTest : public ScriptedServerTest {
 protected:
  // Slow enough that both instances would be downloading at once if nothing kept them apart.
  void scriptServer() override {
    server_.get("/files/slow.jar", [this](const httplib::Request&, httplib::Response& response) {
      server_.pause(std::chrono::milliseconds(300));
      response.set_content(testJarOfSize(100 * 1024), "application/java-archive");
    });
  }
};

TEST_F(TwoInstancesTest, SecondInstanceWaitsAndDecidesFromWhatTheFirstLeft) {
  setManifest({{"files/slow.jar", "hash-1", 102400}});

  auto first = startInstaller({}, "first");
  auto second = startInstaller({}, "second");
  const auto firstOutcome = finishInstaller(*first, "first");
  const auto secondOutcome = finishInstaller(*second, "second");

  // Whichever found the work folder taken said so, and nothing else.
  const std::string waited = std::string(InstallerSteps::kWaitingMessage) + "\n";
  EXPECT_EQ(firstOutcome.err + secondOutcome.err, waited);
  for (const auto& outcome : {firstOutcome, secondOutcome}) EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(newDownloads(), std::vector<std::string>{"/files/slow.jar"});
  EXPECT_TRUE(readFile(jar()) == testJarOfSize(100 * 1024)) << "the jar is not the published body";
  EXPECT_EQ(storedHash(), "hash-1");
}

}  // namespace
}  // namespace tolvane::test
