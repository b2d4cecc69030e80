#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Installer/FileModel.h"
#include "Installer/StoredFileModel.h"
#include "Platform/Process.h"
#include "Platform/UserDefaults.h"
#include "Services/RetryHandler.h"
#include "Support/FakeRuntime.h"
#include "Support/LoopbackServer.h"
#include "Support/TemporaryHome.h"
#include "Support/TestCertificate.h"

// The whole program in headless mode, as a child process against a loopback update server,
// with a fake Java runtime that records how the launcher was started.
namespace tolvane::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path kInstaller = fs::path(TOLVANE_BINARY_DIR) / "bin" / "tolvane-installer";
const std::string kInstalling = "Установка...\n";
const std::string kUpdating = "Обновление...\n";
const std::string kCheckFailed = "Не удалось проверить наличие новой версии лаунчера:\n\n";
const std::string kGaveUp = "The operation couldn\u2019t be completed. (Tolvane_Apple_Silicon.ResourceError error 5.)";

std::string retryFailed(const std::string& original) {
  return "Request retry failed with retry error: " + kGaveUp + ", original error: " + original;
}

// What the headless front end writes to standard error for a failed run.
std::string alertText(const std::string& message) { return "Ошибка: " + message + "\n"; }

struct RunOutcome {
  int exitCode = -1;
  std::string out;  // the first line of standard output
  std::string err;
};

struct ManifestFile {
  std::string path;
  std::string hash;
  std::int64_t size;
};

class HeadlessRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(kInstaller)) << kInstaller << " is not built";
    FakeRuntime::writeArchive(home_.resources() / "java.zip", launchRecord());
    home_.setEnvironment("TOLVANE_CA_FILE", TestCertificate::shared().caFile().string());
    home_.setEnvironment("TOLVANE_UPDATE_ORIGIN", server_.url(""));
    home_.setEnvironment(RetryHandler::kRetryDelayVariable, "0.02");
    home_.setEnvironment("DISPLAY", std::nullopt);
    home_.setEnvironment("WAYLAND_DISPLAY", std::nullopt);
    // One request per connection, so stopping the server never waits for an idle one.
    server_.server().set_keep_alive_max_count(1);
    server_.get("/loaderv3.php", [this](const httplib::Request&, httplib::Response& response) {
      std::lock_guard lock(mutex_);
      response.status = manifestStatus_;
      response.set_content(manifest_, "application/json");
    });
    // Every other path is a release file, or whatever status a test scripted for it.
    server_.get(R"(/(.+))", [this](const httplib::Request& request, httplib::Response& response) {
      std::lock_guard lock(mutex_);
      const std::string path = request.path.substr(1);
      if (const auto status = fileStatus_.find(path); status != fileStatus_.end()) {
        response.status = status->second;
        response.set_content("<html>" + std::to_string(status->second) + "</html>", "text/html");
      } else if (const auto file = files_.find(path); file != files_.end()) {
        response.set_content(file->second, "application/java-archive");
      } else {
        response.status = 404;
      }
    });
  }

  [[nodiscard]] fs::path launchRecord() const { return home_.root() / "launch.txt"; }
  [[nodiscard]] fs::path workFolder() const { return home_.home() / "Tolvane"; }
  [[nodiscard]] fs::path jar() const { return workFolder() / "Tolvane.jar"; }

  void setManifest(const std::vector<ManifestFile>& files) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& f : files) list.push_back({{"path", f.path}, {"hash", f.hash}, {"size", f.size}});
    setManifestText(nlohmann::json{{"files", list}}.dump());
  }
  void setManifestText(std::string text, int status = 200) {
    std::lock_guard lock(mutex_);
    manifest_ = std::move(text);
    manifestStatus_ = status;
  }
  void publish(const std::string& path, std::string body) {
    std::lock_guard lock(mutex_);
    files_[path] = std::move(body);
    fileStatus_.erase(path);
  }
  void failFile(const std::string& path, int status) {
    std::lock_guard lock(mutex_);
    fileStatus_[path] = status;
  }
  void takeServerDown() {
    home_.setEnvironment("TOLVANE_UPDATE_ORIGIN", "https://127.0.0.1:" + std::to_string(LoopbackServer::refusedPort()));
  }

  // Release paths requested from the server since the last call.
  std::vector<std::string> newDownloads() {
    std::vector<std::string> paths;
    const auto requests = server_.requests();
    for (std::size_t i = seenRequests_; i < requests.size(); ++i) {
      if (requests[i].path != "/loaderv3.php") paths.push_back(requests[i].path);
    }
    seenRequests_ = requests.size();
    return paths;
  }

  RunOutcome runInstaller() {
    fs::remove(launchRecord());
    const fs::path out = home_.root() / "stdout.txt";
    const fs::path err = home_.root() / "stderr.txt";
    // Through sh only to redirect the streams into files; `timeout` keeps a hung run from
    // hanging the suite.
    platform::Process child("/bin/sh", {"-c", R"(exec timeout 60 "$1" --headless > "$2" 2> "$3")", "sh",
                                        kInstaller.string(), out.string(), err.string()});
    child.run();
    const auto status = child.waitUntilExit();
    RunOutcome outcome;
    outcome.exitCode = status.reason == platform::TerminationStatus::Reason::exit ? status.status : -1;
    // Only the first line: the unpacking tool's listing currently follows it on a first run.
    const std::string printed = readFile(out);
    outcome.out = printed.substr(0, printed.find('\n') + 1);
    outcome.err = readFile(err);
    return outcome;
  }

  // The run ended by starting the launcher jar in the work folder.
  void expectLaunched(const RunOutcome& outcome, const std::string& statusLine) {
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.out, statusLine);
    EXPECT_EQ(outcome.err, "");
    const auto record = FakeRuntime::waitForRecord(launchRecord());
    ASSERT_TRUE(record) << "the launcher was not started";
    EXPECT_EQ(record->workingFolder, fs::canonical(workFolder()).string());
    EXPECT_EQ(record->arguments, (std::vector<std::string>{"-jar", jar().string()}));
  }

  void expectFailed(const RunOutcome& outcome, const std::string& statusLine, const std::string& message) {
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(outcome.out, statusLine);
    EXPECT_EQ(outcome.err, alertText(message));
    EXPECT_FALSE(FakeRuntime::readRecord(launchRecord())) << "the launcher was started";
  }

  static std::optional<FileModel> storedEntry() { return fileModel(platform::UserDefaults::standard(), kLoaderModelKey); }

  // A first run that installs version 1 from "files/Tolvane.jar".
  void installVersionOne() {
    publish("files/Tolvane.jar", "launcher v1");
    setManifest({{"files/Tolvane.jar", "hash-1", 11}});
    const auto outcome = runInstaller();
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    ASSERT_EQ(readFile(jar()), "launcher v1");
    // The launcher runs on after the installer quits; let it write its record now, or it
    // would land in the middle of the next run and be taken for that run's launch.
    ASSERT_TRUE(FakeRuntime::waitForRecord(launchRecord())) << "the launcher was not started";
    newDownloads();
  }

  TemporaryHome home_{"home with space"};
  LoopbackServer server_;
  std::mutex mutex_;
  std::string manifest_ = R"({"files":[]})";  // guarded by mutex_, as are the two maps
  int manifestStatus_ = 200;
  std::map<std::string, std::string> files_;
  std::map<std::string, int> fileStatus_;
  std::size_t seenRequests_ = 0;
};

TEST_F(HeadlessRunTest, FirstInstallStoresDownloadsAndStarts) {
  publish("files/Tolvane.jar", "launcher v1");
  setManifest({{"files/Tolvane.jar", "hash-1", 11}});

  const auto outcome = runInstaller();

  expectLaunched(outcome, kInstalling);
  EXPECT_EQ(readFile(jar()), "launcher v1");
  EXPECT_TRUE(fs::exists(workFolder() / "java" / "bin" / "java"));
  EXPECT_FALSE(fs::exists(workFolder() / "java.zip"));
  EXPECT_EQ(newDownloads(), std::vector<std::string>{"/files/Tolvane.jar"});
  const auto stored = storedEntry();
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->path, "files/Tolvane.jar");
  EXPECT_EQ(stored->hash, "hash-1");
  EXPECT_EQ(stored->size, 11);
}

TEST_F(HeadlessRunTest, UnchangedManifestStartsTheJarWithoutDownloading) {
  installVersionOne();
  publish("files/Tolvane.jar", "launcher v1 changed on the server only");

  const auto outcome = runInstaller();

  expectLaunched(outcome, kUpdating);
  EXPECT_TRUE(newDownloads().empty());
  EXPECT_EQ(readFile(jar()), "launcher v1");
}

TEST_F(HeadlessRunTest, ChangedHashOrSizeDownloadsTheNewVersion) {
  installVersionOne();
  publish("files/Tolvane.jar", "launcher v2");
  setManifest({{"files/Tolvane.jar", "hash-2", 11}});

  expectLaunched(runInstaller(), kUpdating);
  EXPECT_EQ(readFile(jar()), "launcher v2");
  EXPECT_EQ(newDownloads(), std::vector<std::string>{"/files/Tolvane.jar"});

  publish("files/Tolvane.jar", "launcher v3 is longer");
  setManifest({{"files/Tolvane.jar", "hash-2", 21}});

  expectLaunched(runInstaller(), kUpdating);
  EXPECT_EQ(readFile(jar()), "launcher v3 is longer");
  EXPECT_EQ(newDownloads(), std::vector<std::string>{"/files/Tolvane.jar"});
  EXPECT_EQ(storedEntry()->size, 21);
}

TEST_F(HeadlessRunTest, DeletedJarIsDownloadedAgain) {
  installVersionOne();
  fs::remove(jar());

  expectLaunched(runInstaller(), kInstalling);
  EXPECT_EQ(readFile(jar()), "launcher v1");
  EXPECT_EQ(newDownloads(), std::vector<std::string>{"/files/Tolvane.jar"});
}

TEST_F(HeadlessRunTest, OnlyTheFirstOfSeveralFilesCounts) {
  publish("first.jar", "first");
  publish("second.jar", "second");
  setManifest({{"first.jar", "a", 5}, {"second.jar", "b", 6}});

  expectLaunched(runInstaller(), kInstalling);
  EXPECT_EQ(readFile(jar()), "first");
  EXPECT_EQ(newDownloads(), std::vector<std::string>{"/first.jar"});

  // A change further down the list is no new version.
  setManifest({{"first.jar", "a", 5}, {"third.jar", "c", 7}});
  expectLaunched(runInstaller(), kUpdating);
  EXPECT_TRUE(newDownloads().empty());
}

TEST_F(HeadlessRunTest, CanonicallyEquivalentPathIsTheSameVersion) {
  const std::string composed = "files/caf\u00e9.jar";
  const std::string decomposed = "files/cafe\u0301.jar";
  publish(composed, "launcher");
  setManifest({{composed, "h", 8}});
  expectLaunched(runInstaller(), kInstalling);
  ASSERT_EQ(newDownloads().size(), 1u);

  setManifest({{decomposed, "h", 8}});

  expectLaunched(runInstaller(), kUpdating);
  EXPECT_TRUE(newDownloads().empty());
}

TEST_F(HeadlessRunTest, PathWithSpacesAndNonASCIIIsDownloaded) {
  const std::string path = "release 2/Лаунчер Толване.jar";
  publish(path, "launcher with a long name");
  setManifest({{path, "h", 25}});

  expectLaunched(runInstaller(), kInstalling);
  EXPECT_EQ(readFile(jar()), "launcher with a long name");
  EXPECT_EQ(newDownloads(), std::vector<std::string>{"/" + path});
}

TEST_F(HeadlessRunTest, EmptyFileListFailsOnACleanMachineAndIsIgnoredWithAJar) {
  setManifest({});
  expectFailed(runInstaller(), kInstalling,
               kCheckFailed + "The operation couldn\u2019t be completed. (Tolvane_Apple_Silicon.ResourceError error 7.)");
  EXPECT_FALSE(storedEntry());

  installVersionOne();
  setManifest({});
  expectLaunched(runInstaller(), kUpdating);
  EXPECT_TRUE(newDownloads().empty());
}

TEST_F(HeadlessRunTest, MalformedManifestFailsWithoutAJarAndIsIgnoredWithOne) {
  setManifestText("<html>maintenance</html>");
  const auto outcome = runInstaller();
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_EQ(outcome.out, kInstalling);
  // Decoding failures reach the user wrapped once, with the decoder's own text at the end.
  const std::string decodingPrefix =
      alertText(kCheckFailed + retryFailed("Response could not be decoded because of error:\n"));
  EXPECT_EQ(outcome.err.substr(0, decodingPrefix.size() - 1), decodingPrefix.substr(0, decodingPrefix.size() - 1));
  EXPECT_EQ(outcome.err.find("Request retry failed", 60), outcome.err.find("Request retry failed"));
  EXPECT_EQ(server_.requestCount(), 4u);

  installVersionOne();
  setManifestText("{\"files\": [{\"path\": 3}]}");
  expectLaunched(runInstaller(), kUpdating);
  EXPECT_TRUE(newDownloads().empty());
  EXPECT_EQ(storedEntry()->hash, "hash-1");
}

TEST_F(HeadlessRunTest, ServerDownOnACleanMachineNamesTheRetryFailureTwice) {
  takeServerDown();

  expectFailed(runInstaller(), kInstalling,
               kCheckFailed + retryFailed(retryFailed("URLSessionTask failed with error: Could not connect to the server.")));
}

TEST_F(HeadlessRunTest, ServerDownWithAJarStartsIt) {
  installVersionOne();
  takeServerDown();

  expectLaunched(runInstaller(), kUpdating);
  EXPECT_EQ(readFile(jar()), "launcher v1");
}

TEST_F(HeadlessRunTest, ServerDownWithAStoredEntryButNoJarTriesTheDownload) {
  installVersionOne();
  fs::remove(jar());
  takeServerDown();

  // The manifest failure is absorbed; the download from the stored path is what fails.
  expectFailed(runInstaller(), kInstalling,
               kCheckFailed + retryFailed("URLSessionTask failed with error: Could not connect to the server."));
  EXPECT_EQ(storedEntry()->path, "files/Tolvane.jar");
}

class HeadlessDownloadErrorTest : public HeadlessRunTest, public ::testing::WithParamInterface<int> {};

TEST_P(HeadlessDownloadErrorTest, ErrorPageNeverReplacesTheJarAndTheNextGoodRunUpdates) {
  const int status = GetParam();
  installVersionOne();
  failFile("files/v2.jar", status);
  setManifest({{"files/v2.jar", "hash-2", 11}});

  expectFailed(runInstaller(), kUpdating,
               kCheckFailed + retryFailed("Response status code was unacceptable: " + std::to_string(status) + "."));
  EXPECT_EQ(readFile(jar()), "launcher v1");
  EXPECT_FALSE(fs::exists(workFolder() / ".Tolvane.jar.download"));
  EXPECT_EQ(newDownloads().size(), 4u);
  // The stored entry still names the installed version, so the new one counts as new later.
  EXPECT_EQ(storedEntry()->hash, "hash-1");

  publish("files/v2.jar", "launcher v2");
  expectLaunched(runInstaller(), kUpdating);
  EXPECT_EQ(readFile(jar()), "launcher v2");
  EXPECT_EQ(storedEntry()->hash, "hash-2");
}

INSTANTIATE_TEST_SUITE_P(Statuses, HeadlessDownloadErrorTest, ::testing::Values(404, 500));

}  // namespace
}  // namespace tolvane::test
