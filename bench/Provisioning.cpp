// First provisioning of the bundled Java runtime (the build's share/tolvane-installer/java.zip)
// by the program's own steps against a plain `unzip` of the same archive into an empty
// folder. The program's side calls InstallerService::createWorkFolder() and installJava() in
// a fresh home, as a first run does: copy the archive into the work folder, unpack it into a
// staging folder, move the runtime into place, remove the copy. The plain side is
// `/usr/bin/unzip -o <archive> -d <empty folder>`, timed from spawn to exit. On both sides
// the unpacking tool's listing goes to /dev/null the same way: it is the tool's inherited
// standard output. The sides take turns; medians are compared, and each round checks that
// both produced the same tree.
//
//   bench_Provisioning [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Installer/InstallerService.h"
#include "Installer/WorkFolder.h"
#include "Platform/Bundle.h"
#include "Platform/ErrorException.h"
#include "Support/TemporaryHome.h"

namespace {

namespace fs = std::filesystem;
using namespace tolvane;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 7;
constexpr double kGoal = 1.1;

struct Result {
  double provisioningSeconds = 0;
  double unzipSeconds = 0;
  std::uintmax_t archiveBytes = 0;
  bench::TreeSize tree;
};
std::optional<Result> measured;

class ProvisioningSetup {
 public:
  ProvisioningSetup() {
    // TemporaryHome points the resources at an empty folder; the program's own are wanted.
    const fs::path resources =
        bench::selfExecutable().parent_path() / platform::Bundle::kResourceSubfolder;
    home_.setEnvironment(platform::Bundle::kResourcesVariable,
                         fs::weakly_canonical(resources).string());
    const auto found = platform::Bundle::main().url("java", "zip");
    if (!found) {
      throw std::runtime_error("no java.zip in " + resources.string() +
                               " (build tolvane_java_runtime)");
    }
    archive_ = *found;
  }

  [[nodiscard]] const fs::path& archive() const { return archive_; }

  // The program's provisioning in a home without a work folder; the unpacked tree's size.
  std::pair<double, bench::TreeSize> provision() {
    const auto folder = WorkFolder::forCurrentUser();
    InstallerService installer(folder, nullptr, nullptr);
    const fs::path work = folder.root();
    fs::remove_all(work);
    double seconds = 0;
    try {
      const bench::SilencedStandardOutput quiet;
      const auto start = Clock::now();
      installer.createWorkFolder();
      installer.installJava();
      seconds = bench::seconds(Clock::now() - start);
    } catch (const platform::ErrorException& error) {
      throw std::runtime_error("provisioning failed: " + (error.error()
                                                              ? error.error()->debugDescription()
                                                              : std::string("unknown error")));
    }
    if (!isExecutable(folder.javaExecutable()) || fs::exists(folder.archiveCopy())) {
      throw std::runtime_error("provisioning left no runtime, or left the archive copy");
    }
    const auto tree = bench::treeSize(folder.runtimeFolder());
    fs::remove_all(work);
    return {seconds, tree};
  }

  // unzip alone into an empty folder.
  std::pair<double, bench::TreeSize> unzip() {
    const fs::path target = home_.root() / "plain";
    fs::remove_all(target);
    fs::create_directory(target);
    bench::ChildOptions options;
    options.standardOutput = "/dev/null";
    const auto run = bench::runChild(
        {"/usr/bin/unzip", "-o", archive_.string(), "-d", target.string()}, options);
    if (!run.succeeded || !isExecutable(target / "java" / "bin" / "java")) {
      throw std::runtime_error("unzip failed");
    }
    const auto tree = bench::treeSize(target / "java");
    fs::remove_all(target);
    return {run.seconds, tree};
  }

 private:
  static bool isExecutable(const fs::path& file) {
    std::error_code ignored;
    return fs::is_regular_file(file, ignored) &&
           (fs::status(file, ignored).permissions() & fs::perms::owner_exec) != fs::perms::none;
  }

  test::TemporaryHome home_;
  fs::path archive_;
};

void BM_ProvisioningVersusUnzip(benchmark::State& state) {
  std::vector<double> provisioning;
  std::vector<double> unzip;
  Result result;
  try {
    ProvisioningSetup setup;
    result.archiveBytes = fs::file_size(setup.archive());
    // Untimed: brings the archive into the page cache for both sides.
    const auto expected = setup.unzip().second;
    if (setup.provision().second != expected) {
      throw std::runtime_error("the two sides unpacked different trees");
    }
    int round = 0;
    for (auto _ : state) {
      std::pair<double, bench::TreeSize> ours;
      std::pair<double, bench::TreeSize> theirs;
      if (round++ % 2 == 0) {
        ours = setup.provision();
        theirs = setup.unzip();
      } else {
        theirs = setup.unzip();
        ours = setup.provision();
      }
      if (ours.second != expected || theirs.second != expected) {
        throw std::runtime_error("an unpacked tree differs from the first one");
      }
      state.SetIterationTime(ours.first);
      provisioning.push_back(ours.first);
      unzip.push_back(theirs.first);
    }
    result.tree = expected;
  } catch (const std::exception& error) {
    state.SkipWithError(error.what());
    return;
  }
  result.provisioningSeconds = bench::median(provisioning);
  result.unzipSeconds = bench::median(unzip);
  measured = result;
  state.counters["provisioning_ms"] = result.provisioningSeconds * 1e3;
  state.counters["unzip_ms"] = result.unzipSeconds * 1e3;
  state.counters["ratio"] = result.provisioningSeconds / result.unzipSeconds;
  state.counters["archive_MiB"] = static_cast<double>(result.archiveBytes) / (1 << 20);
  state.counters["unpacked_MiB"] = static_cast<double>(result.tree.bytes) / (1 << 20);
}

BENCHMARK(BM_ProvisioningVersusUnzip)
    ->Iterations(kRounds)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!bench::runBenchmarks(argc, argv)) return 1;
  const std::string item =
      "first provisioning of java.zip / plain unzip, median of " + std::to_string(kRounds);
  return bench::printTimeRatioSummary(
      item,
      measured ? std::optional(std::pair(measured->provisioningSeconds, measured->unzipSeconds))
               : std::nullopt,
      kGoal, 0);
}
