#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Installer/FileModel.h"
#include "Installer/StoredFileModel.h"
#include "Platform/Process.h"
#include "Platform/UserDefaults.h"
#include "Services/RetryHandler.h"
#include "Services/ServicesTestSupport.h"
#include "Support/BuildPaths.h"
#include "Support/FakeRuntime.h"
#include "Support/LoopbackServer.h"
#include "Support/TemporaryHome.h"
#include "Support/TestArchives.h"
#include "Support/TestCertificate.h"

// The whole program in headless mode, as a child process against a loopback update server,
// with a fake Java runtime that records how the launcher was started.
namespace tolvane::test {

inline const std::filesystem::path kInstaller = test::buildFolder() / "bin" / "tolvane-installer";
inline const std::string kInstalling = "Установка...\n";
inline const std::string kUpdating = "Обновление...\n";
// Two versions of the launcher as the update server serves them: real (if tiny) jars.
inline const std::string kVersionOne = testJar("launcher v1");
inline const std::string kVersionTwo = testJar("launcher v2");
inline std::string taskFailed(const std::string& transportMessage) {
  return "URLSessionTask failed with error: " + transportMessage;
}

// What the headless front end writes to standard error for a failed run.
inline std::string alertText(const std::string& message) { return "Ошибка: " + message + "\n"; }

struct RunOutcome {
  int exitCode = -1;
  std::string out;  // all of standard output
  std::string err;
};

struct ManifestFile {
  std::string path;
  std::string hash;
  std::int64_t size;
};

// How the child is started: `wrapper` goes in front of the shell that runs the program
// (setpriv, unshare, prlimit), `setup` is shell code run just before it (mounts).
struct ChildSetup {
  std::vector<std::string> wrapper;
  std::string setup;
};

class HeadlessRunTest : public ::testing::Test {
 protected:
  using Path = std::filesystem::path;

  void SetUp() override {
    // Nothing is inherited from the shell.
    home_.setEnvironment(RetryHandler::kRequestTimeoutVariable, std::nullopt);
    ASSERT_TRUE(std::filesystem::exists(kInstaller)) << kInstaller << " is not built";
    // Open to every user like /tmp, for children that run as another user.
    std::filesystem::create_directories(temporaryFolder());
    std::filesystem::permissions(temporaryFolder(), std::filesystem::perms(01777));
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
      response.set_content(manifest_, "application/json");
    });
    // Every other path is a release file.
    server_.get(R"(/(.+))", [this](const httplib::Request& request, httplib::Response& response) {
      std::lock_guard lock(mutex_);
      if (const auto file = files_.find(request.path.substr(1)); file != files_.end()) {
        response.set_content(file->second, "application/java-archive");
      } else {
        response.status = 404;
      }
    });
  }

  [[nodiscard]] Path launchRecord() const { return home_.root() / "launch.txt"; }
  // The program's TMPDIR: its own for every test, so what a run leaves there is seen.
  [[nodiscard]] Path temporaryFolder() const { return home_.root() / "tmp"; }
  [[nodiscard]] std::vector<std::string> temporaryFilesLeft() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(temporaryFolder()))
      names.push_back(entry.path().filename().string());
    return names;
  }
  [[nodiscard]] Path workFolder() const { return home_.home() / "Tolvane"; }
  [[nodiscard]] Path jar() const { return workFolder() / "Tolvane.jar"; }
  [[nodiscard]] Path settingsFile() const {
    return home_.configHome() / "tolvane-installer" / "defaults.json";
  }

  void setManifest(const std::vector<ManifestFile>& files) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& f : files)
      list.push_back({{"path", f.path}, {"hash", f.hash}, {"size", f.size}});
    std::lock_guard lock(mutex_);
    manifest_ = nlohmann::json{{"files", list}}.dump();
  }
  void publish(const std::string& path, std::string body) {
    std::lock_guard lock(mutex_);
    files_[path] = std::move(body);
  }
  void takeServerDown() {
    home_.setEnvironment("TOLVANE_UPDATE_ORIGIN",
                         "https://127.0.0.1:" + std::to_string(LoopbackServer::refusedPort()));
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

  // Starts the program; `name` keeps the streams of children that run at once apart.
  // `options` follow "--headless" on the program's command line.
  std::unique_ptr<platform::Process> startInstaller(const ChildSetup& child = {},
                                                    const std::string& name = "run",
                                                    const std::string& options = "") {
    const Path out = home_.root() / (name + ".stdout");
    const Path err = home_.root() / (name + ".stderr");
    // Writable for a child that runs as another user.
    writeFile(out, "", std::filesystem::perms(0666));
    writeFile(err, "", std::filesystem::perms(0666));
    // Through sh only to redirect the streams into files; `timeout` keeps a hung run from
    // hanging the suite.
    std::vector<std::string> arguments(child.wrapper.begin(), child.wrapper.end());
    arguments.insert(arguments.end(), {"/bin/sh", "-c", child.setup + R"(
TMPDIR="$4" exec timeout 60 "$1" --headless )" + options + R"( > "$2" 2> "$3")",
                                       "sh", kInstaller.string(), out.string(), err.string(),
                                       temporaryFolder().string()});
    const std::string executable = arguments.front();
    arguments.erase(arguments.begin());
    auto process = std::make_unique<platform::Process>(executable, arguments);
    process->run();
    return process;
  }

  RunOutcome finishInstaller(platform::Process& process, const std::string& name = "run") {
    const auto status = process.waitUntilExit();
    RunOutcome outcome;
    outcome.exitCode =
        status.reason == platform::TerminationStatus::Reason::exit ? status.status : -1;
    outcome.out = readFile(home_.root() / (name + ".stdout"));
    outcome.err = readFile(home_.root() / (name + ".stderr"));
    // Whatever the outcome, a run that ends by itself leaves nothing in the temp folder.
    EXPECT_EQ(temporaryFilesLeft(), std::vector<std::string>{}) << "after " << name;
    return outcome;
  }

  RunOutcome runInstaller(const ChildSetup& child = {}) {
    std::filesystem::remove(launchRecord());
    auto process = startInstaller(child);
    return finishInstaller(*process);
  }

  // The run ended by starting the launcher jar in the work folder.
  void expectLaunched(const RunOutcome& outcome, const std::string& statusLine) {
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.out, statusLine);
    EXPECT_EQ(outcome.err, "");
    const auto record = FakeRuntime::waitForRecord(launchRecord());
    ASSERT_TRUE(record) << "the launcher was not started";
    EXPECT_EQ(record->workingFolder, std::filesystem::canonical(workFolder()).string());
    EXPECT_EQ(record->arguments, (std::vector<std::string>{"-jar", jar().string()}));
  }

  void expectFailed(const RunOutcome& outcome, const std::string& statusLine,
                    const std::string& message) {
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(outcome.out, statusLine);
    EXPECT_EQ(outcome.err, alertText(message));
    EXPECT_FALSE(FakeRuntime::readRecord(launchRecord())) << "the launcher was started";
  }

  static std::optional<FileModel> storedEntry() {
    return fileModel(platform::UserDefaults::standard(), kLoaderModelKey);
  }
  static std::optional<std::string> storedHash() {
    const auto entry = storedEntry();
    return entry ? std::optional<std::string>(entry->hash) : std::nullopt;
  }

  // Version 1 from "files/Tolvane.jar" as a first run leaves it (FirstInstallStoresDownloads-
  // AndStarts is that run): the runtime, the jar and the stored entry.
  void installVersionOne() {
    publish("files/Tolvane.jar", kVersionOne);
    setManifest({{"files/Tolvane.jar", "hash-1", 11}});
    writeFile(workFolder() / "java" / "bin" / "java", FakeRuntime::script(launchRecord()),
              std::filesystem::perms(0755));
    writeFile(jar(), kVersionOne);
    storeFileModel(platform::UserDefaults::standard(), {"files/Tolvane.jar", "hash-1", 11},
                   kLoaderModelKey);
    newDownloads();
  }

  TemporaryHome home_{"home with space"};
  LoopbackServer server_;
  std::mutex mutex_;
  std::string manifest_ = R"({"files":[]})";  // guarded by mutex_, as is files_
  std::map<std::string, std::string> files_;
  std::size_t seenRequests_ = 0;
};

}  // namespace tolvane::test
