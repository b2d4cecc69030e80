// Downloads of 256 MiB and 1 GiB through the program's FileDownloadService against
// `curl -o`, both from the same loopback HTTPS server in the same run, with the peak memory
// of each. Every transfer runs in a child process of its own (this program re-run with
// --child, which makes the service's call exactly as the installer does, or curl), timed
// from start to exit on both sides, with its own peak resident size from wait4() (see
// bench::runMeasured). The two sides take turns within each round, so drift on the machine
// hits both alike.
//
//   bench_FileDownload [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "Platform/DispatchQueue.h"
#include "Platform/Error.h"
#include "Platform/ErrorException.h"
#include "Services/FileDownloadService.h"
#include "Support/LoopbackServer.h"
#include "Support/TemporaryDirectory.h"
#include "Support/TestCertificate.h"

namespace {

namespace fs = std::filesystem;
using namespace tolvane;

constexpr int kRounds = 3;
constexpr double kThroughputGoal = 0.95;
constexpr double kPeakGoalMiB = 40;
// "Flat in size": four times the body may cost at most this much more peak memory.
constexpr double kPeakGrowthGoal = 1.10;

// The child side. HOME, TOLVANE_UPDATE_ORIGIN and TOLVANE_CA_FILE come from the parent. The
// call blocks until its completion has run on the main queue, so it is made from a worker
// while this thread drives the main queue, as the installer's own run does.
int downloadInChild(const std::string& path) {
  std::string failure;
  std::thread worker([&] {
    try {
      FileDownloadService().downloadFile(path);
    } catch (const platform::ErrorException& error) {
      failure = error.error() ? error.error()->debugDescription() : "unknown error";
    } catch (const std::exception& error) {
      failure = error.what();
    }
    platform::DispatchQueue::main()->async([] { platform::MainRunLoop::stop(); });
  });
  platform::MainRunLoop::run();
  worker.join();
  if (!failure.empty()) std::fprintf(stderr, "download failed: %s\n", failure.c_str());
  std::fflush(nullptr);
  // As the installer ends: the HTTP layer's workers may still run, so no static teardown.
  std::_Exit(failure.empty() ? 0 : 1);
}

struct Measured {
  double serviceMiBPerSecond = 0;
  double curlMiBPerSecond = 0;
  double servicePeakMiB = 0;
  double curlPeakMiB = 0;
};
// By size in MiB; nothing for a size whose transfers failed.
std::map<std::int64_t, std::optional<Measured>>& measured() {
  static std::map<std::int64_t, std::optional<Measured>> results;
  return results;
}

struct Fixture {
  test::TemporaryDirectory folder;
  test::LoopbackServer server;

  Fixture() {
    for (const std::size_t mebibytes : {256, 1024}) {
      const auto name = "body-" + std::to_string(mebibytes) + ".bin";
      bench::writePatternFile(folder.path() / name, mebibytes,
                              static_cast<std::uint32_t>(mebibytes));
      server.serveFile("/releases/" + name, folder.path() / name, "\"bench\"");
    }
    server.start();
  }
};

Fixture& fixture() {
  static Fixture instance;
  return instance;
}

void BM_FileDownloadServiceVersusCurl(benchmark::State& state) {
  auto& f = fixture();
  const auto mebibytes = state.range(0);
  const std::string name = "body-" + std::to_string(mebibytes) + ".bin";
  const fs::path source = f.folder.path() / name;
  const std::string caFile = test::TestCertificate::shared().caFile().string();
  const fs::path home = f.folder.path() / "home";
  const fs::path jar =
      home / FileDownloadService::kWorkFolderName / FileDownloadService::kDestinationName;
  const fs::path curlOut = f.folder.path() / "curl.out";
  const auto expectedSize = static_cast<std::uintmax_t>(mebibytes) << 20;

  bench::ChildOptions serviceOptions;
  serviceOptions.environment = {{"HOME", home.string()},
                                {"XDG_CONFIG_HOME", (f.folder.path() / "config").string()},
                                {"TOLVANE_UPDATE_ORIGIN", f.server.url("")},
                                {"TOLVANE_CA_FILE", caFile},
                                // Production retry delay and time-outs.
                                {"TOLVANE_RETRY_DELAY_SECONDS", std::nullopt},
                                {"TOLVANE_REQUEST_TIMEOUT_SECONDS", std::nullopt}};
  const std::vector<std::string> serviceCommand = {bench::selfExecutable().string(), "--child",
                                                   "releases/" + name};
  // -q first: no ~/.curlrc, so curl does exactly what it is told here.
  const std::string url = f.server.url("/releases/" + name);
  const std::vector<std::string> curlCommand{
      "curl", "-q", "-s", "-S", "-f", "--cacert", caFile, "-o", curlOut.string(), url};

  std::vector<double> serviceSeconds;
  std::vector<double> curlSeconds;
  double servicePeak = 0;
  double curlPeak = 0;
  int round = 0;
  for (auto _ : state) {
    bench::ChildRun service;
    bench::ChildRun curl;
    if (round % 2 == 0) {
      service = bench::runMeasured(serviceCommand, serviceOptions);
      curl = bench::runMeasured(curlCommand);
    } else {
      curl = bench::runMeasured(curlCommand);
      service = bench::runMeasured(serviceCommand, serviceOptions);
    }
    std::error_code ignored;
    const bool complete = service.succeeded && curl.succeeded &&
                          fs::file_size(jar, ignored) == expectedSize &&
                          fs::file_size(curlOut, ignored) == expectedSize;
    // Contents are compared once per size: reading back a GiB twice per round would only
    // slow the run down.
    if (!complete || (round == 0 && !(bench::sameContents(source, jar) &&
                                      bench::sameContents(source, curlOut)))) {
      state.SkipWithError("a transfer failed or stored different bytes");
      measured()[mebibytes] = std::nullopt;
      return;
    }
    state.SetIterationTime(service.seconds);
    serviceSeconds.push_back(service.seconds);
    curlSeconds.push_back(curl.seconds);
    servicePeak = std::max(servicePeak, service.peakMiB);
    curlPeak = std::max(curlPeak, curl.peakMiB);
    fs::remove(jar);
    fs::remove(curlOut);
    ++round;
  }
  Measured result;
  result.serviceMiBPerSecond = static_cast<double>(mebibytes) / bench::median(serviceSeconds);
  result.curlMiBPerSecond = static_cast<double>(mebibytes) / bench::median(curlSeconds);
  result.servicePeakMiB = servicePeak;
  result.curlPeakMiB = curlPeak;
  measured()[mebibytes] = result;
  state.counters["service_MiB_per_s"] = result.serviceMiBPerSecond;
  state.counters["curl_MiB_per_s"] = result.curlMiBPerSecond;
  state.counters["ratio"] = result.serviceMiBPerSecond / result.curlMiBPerSecond;
  state.counters["service_peak_MiB"] = servicePeak;
  state.counters["curl_peak_MiB"] = curlPeak;
  state.SetBytesProcessed(state.iterations() * mebibytes << 20);
}

BENCHMARK(BM_FileDownloadServiceVersusCurl)
    ->ArgName("MiB")
    ->Arg(256)
    ->Arg(1024)
    ->Iterations(kRounds)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

std::string sizeName(std::int64_t mebibytes) {
  return mebibytes % 1024 == 0 ? std::to_string(mebibytes / 1024) + " GiB"
                               : std::to_string(mebibytes) + " MiB";
}

// One line per measured item; a size whose transfers failed is reported as not measured.
// Returns false when any size failed.
bool printSummaries() {
  std::printf("\n");
  for (const auto& [mebibytes, m] : measured()) {
    const std::string size = sizeName(mebibytes);
    const std::string throughput = "FileDownloadService / curl -o throughput, " + size;
    const std::string peak = "FileDownloadService peak RSS, " + size;
    if (!m) {
      bench::printSummary(throughput, std::nullopt, ">= 0.95", false);
      bench::printSummary(peak, std::nullopt, "<= 40 MiB", false);
      continue;
    }
    const double ratio = m->serviceMiBPerSecond / m->curlMiBPerSecond;
    bench::printSummary(throughput, bench::formatted(ratio, 2), ">= 0.95",
                        ratio >= kThroughputGoal);
    bench::printSummary(peak,
                        bench::formatted(m->servicePeakMiB, 1, "MiB") + ", curl " +
                            bench::formatted(m->curlPeakMiB, 1, "MiB"),
                        "<= 40 MiB", m->servicePeakMiB <= kPeakGoalMiB);
  }
  const auto small = measured().find(256);
  const auto large = measured().find(1024);
  if (small != measured().end() && large != measured().end() && small->second && large->second) {
    const double growth = large->second->servicePeakMiB / small->second->servicePeakMiB;
    bench::printSummary("FileDownloadService peak RSS 1 GiB / 256 MiB", bench::formatted(growth, 2),
                        "<= 1.10, flat in size", growth <= kPeakGrowthGoal);
  }
  return std::all_of(measured().begin(), measured().end(),
                     [](const auto& entry) { return entry.second.has_value(); });
}

}  // namespace

int main(int argc, char** argv) {
  if (const auto helped = bench::runMeasuringHelper(argc, argv)) return *helped;
  if (argc == 3 && std::string(argv[1]) == "--child") return downloadInChild(argv[2]);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return printSummaries() ? 0 : 1;
}
