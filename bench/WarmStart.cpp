// A warm start of the real program against a shell doing the least the same job needs.
// Warm: the runtime is unpacked, the jar is present and the manifest is unchanged, so
// `tolvane-installer --headless` fetches the manifest, decides there is nothing to download
// and starts the launcher. The baseline is `sh -c 'curl <manifest> && cd <work> && java -jar
// <jar> &'`. Both start the same runtime, whose bin/java only writes its working folder and
// arguments to a record file and exits, so the runtime's own start-up is left out. Each side
// is timed from spawn until the record file is closed (inotify), the two take turns, and
// medians are compared. Every run is checked: the launcher got the right folder and
// arguments, the manifest was fetched once, and nothing was downloaded.
//
//   bench_WarmStart [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Support/LoopbackServer.h"
#include "Support/TemporaryDirectory.h"
#include "Support/TemporaryHome.h"
#include "Support/TestArchives.h"
#include "Support/TestCertificate.h"

namespace {

namespace fs = std::filesystem;
using namespace tolvane;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kWarmUpRounds = 3;
constexpr int kRounds = 40;
constexpr double kGoal = 1.2;
constexpr auto kLaunchTimeout = 10s;
const std::string kJarPath = "files/Tolvane.jar";

struct Run {
  double launchSeconds = 0;  // spawn until the runtime closed its record
  double exitSeconds = 0;    // spawn until the program itself exited
};

class WarmStartSetup {
 public:
  WarmStartSetup() : runtime_(runtime(), root_.path()) {
    // One request per connection, so stopping the server never waits for an idle one.
    server_.server().set_keep_alive_max_count(1);
    server_.serveBody("/loaderv3.php",
                      R"({"files":[{"path":")" + kJarPath + R"(","hash":"warm-1","size":11}]})",
                      "application/json");
    server_.serveBody("/" + kJarPath, test::testJar("launcher v1"), "application/java-archive");
    server_.start();

    const std::vector<std::pair<std::string, std::optional<std::string>>> environment = {
        {"HOME", home().string()},
        {"XDG_CONFIG_HOME", (root_.path() / "config").string()},
        {"TOLVANE_UPDATE_ORIGIN", server_.url("")},
        {"TOLVANE_CA_FILE", test::TestCertificate::shared().caFile().string()},
        // Production retry delay and time-outs.
        {"TOLVANE_RETRY_DELAY_SECONDS", std::nullopt},
        {"TOLVANE_REQUEST_TIMEOUT_SECONDS", std::nullopt},
        {"TOLVANE_RESOURCES", std::nullopt},
        {"DISPLAY", std::nullopt},
        {"WAYLAND_DISPLAY", std::nullopt},
    };
    // curl trusts what the installer trusts: the system's CAs and the test CA.
    bench::writeTrustedCAs(trustedCAs(), test::TestCertificate::shared().caFile());
    installerOptions_ = {environment, "/dev/null", root_.path() / "installer.err"};
    baselineOptions_ = {environment, "/dev/null", root_.path() / "baseline.err"};
  }

  [[nodiscard]] fs::path home() const { return root_.path() / "home"; }
  [[nodiscard]] fs::path trustedCAs() const { return root_.path() / "trusted-cas.pem"; }
  [[nodiscard]] fs::path workFolder() const { return home() / "Tolvane"; }
  [[nodiscard]] fs::path jar() const { return workFolder() / "Tolvane.jar"; }
  [[nodiscard]] fs::path runtime() const { return workFolder() / "java" / "bin" / "java"; }

  // The first run stores the manifest entry and downloads the jar; after it every run is warm.
  void installOnce() {
    runInstaller();
    if (test::readFile(jar()) != test::testJar("launcher v1") || requestsFor("/" + kJarPath) != 1) {
      throw std::runtime_error("the first run did not install the jar");
    }
  }

  Run runInstaller() {
    return timed({installerProgram().string(), "--headless"}, installerOptions_,
                 "tolvane-installer");
  }

  Run runBaseline() {
    const std::string manifestURL = server_.url("/loaderv3.php?os=macos&os=macos");
    return timed(
        {"/bin/sh", "-c",
         R"(curl -q -s -S -f --cacert "$1" -o "$2" "$3" && cd "$4" && { "$5" -jar "$6" & })", "sh",
         trustedCAs().string(), (root_.path() / "manifest.json").string(), manifestURL,
         workFolder().string(), runtime().string(), jar().string()},
        baselineOptions_, "curl baseline");
  }

  // Since the counts were taken, each of `runs` runs fetched the manifest once and none
  // downloaded anything: they were warm.
  void checkWarm(std::size_t manifestsBefore, std::size_t jarsBefore, std::size_t runs) const {
    if (requestsFor("/loaderv3.php") != manifestsBefore + runs ||
        requestsFor("/" + kJarPath) != jarsBefore) {
      throw std::runtime_error(
          "a run was not warm: it did not fetch the manifest once, or it downloaded");
    }
  }

  [[nodiscard]] std::size_t requestsFor(const std::string& path) const {
    const auto requests = server_.requests();
    return static_cast<std::size_t>(
        std::count_if(requests.begin(), requests.end(),
                      [&](const auto& request) { return request.path == path; }));
  }

 private:
  static fs::path installerProgram() {
    return bench::selfExecutable().parent_path() / "tolvane-installer";
  }

  Run timed(const std::vector<std::string>& command, const bench::ChildOptions& options,
            const std::string& name) {
    runtime_.reset();
    bench::Child child(command, options);
    const auto launched = runtime_.waitForRecord(kLaunchTimeout);
    const bench::ChildRun exited = child.wait();
    if (!launched || !exited.succeeded) {
      throw std::runtime_error(
          name + " did not start the launcher: " + test::readFile(*options.standardError));
    }
    runtime_.checkLaunched(workFolder(), jar(), name);
    return {bench::seconds(*launched - child.started()), exited.seconds};
  }

  test::TemporaryDirectory root_;
  test::LoopbackServer server_;
  bench::StandInRuntime runtime_;
  bench::ChildOptions installerOptions_;
  bench::ChildOptions baselineOptions_;
};

struct Result {
  double installerLaunch = 0;
  double baselineLaunch = 0;
  double installerExit = 0;
  double baselineExit = 0;
};
std::optional<Result> measured;

void BM_WarmStartVersusCurlAndSpawn(benchmark::State& state) {
  std::vector<Run> installer;
  std::vector<Run> baseline;
  try {
    WarmStartSetup setup;
    setup.installOnce();
    auto runPair = [&](int round) {
      const auto manifests = setup.requestsFor("/loaderv3.php");
      const auto jars = setup.requestsFor("/" + kJarPath);
      std::pair<Run, Run> runs;
      if (round % 2 == 0) {
        runs.first = setup.runInstaller();
        runs.second = setup.runBaseline();
      } else {
        runs.second = setup.runBaseline();
        runs.first = setup.runInstaller();
      }
      setup.checkWarm(manifests, jars, 2);
      return runs;
    };
    for (int round = 0; round < kWarmUpRounds; ++round) runPair(round);
    int round = 0;
    for (auto _ : state) {
      const auto [ours, theirs] = runPair(round++);
      state.SetIterationTime(ours.launchSeconds);
      installer.push_back(ours);
      baseline.push_back(theirs);
    }
  } catch (const std::exception& error) {
    state.SkipWithError(error.what());
    return;
  }
  auto medianOf = [](const std::vector<Run>& runs, double Run::*field) {
    std::vector<double> values;
    for (const auto& run : runs) values.push_back(run.*field);
    return bench::median(values);
  };
  Result result{medianOf(installer, &Run::launchSeconds), medianOf(baseline, &Run::launchSeconds),
                medianOf(installer, &Run::exitSeconds), medianOf(baseline, &Run::exitSeconds)};
  measured = result;
  state.counters["installer_launch_ms"] = result.installerLaunch * 1e3;
  state.counters["baseline_launch_ms"] = result.baselineLaunch * 1e3;
  state.counters["installer_exit_ms"] = result.installerExit * 1e3;
  state.counters["baseline_exit_ms"] = result.baselineExit * 1e3;
  state.counters["ratio"] = result.installerLaunch / result.baselineLaunch;
}

BENCHMARK(BM_WarmStartVersusCurlAndSpawn)
    ->Iterations(kRounds)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!bench::runBenchmarks(argc, argv)) return 1;
  const std::string item = "warm start tolvane-installer --headless / curl + spawn, median of " +
                           std::to_string(kRounds);
  return bench::printTimeRatioSummary(
      item,
      measured ? std::optional(std::pair(measured->installerLaunch, measured->baselineLaunch))
               : std::nullopt,
      kGoal, 1);
}
