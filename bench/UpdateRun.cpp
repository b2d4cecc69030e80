// The whole update run of the real program against `curl -o` of the same jar, both from nginx
// (Debian's nginx-light, started here on 127.0.0.1) serving a release published with
// `tolvane-update-server publish`. The runtime is already provisioned (a stand-in bin/java that
// only records how it was started, see bench::StandInRuntime) and a jar is installed, so each
// `tolvane-installer --headless --verbose` fetches the manifest, downloads the new 256 MiB
// jar, checks and commits it and starts the launcher. Each round publishes a new jar under a
// new path, alternating two different pattern files, so every run must download. The two
// sides take turns; medians are compared. Every run is checked: the installed jar and curl's
// file hold the published bytes, the launcher was started the right way, and nginx answered
// the jar once to each side. The download alone is read from the installer's --verbose trace
// ("HTTP GET <url> attempt 1: 200 in <ms> ms"). A third side does with curl what the installer
// does after the body: makes the file durable and renames it over the previous jar.
//
// The signed update run (a 256 MiB and a 5 MiB jar): releases published with their minisign
// signature, and the same update run by an installer without release keys and by one with
// the key, taking turns. From the keyed run's trace come its download and its signature
// request; the verification itself (ReleaseSignature::verify of the installed jar, prehashed
// as minisign signs by default, and the legacy form) is timed here right after that run,
// with the jar as warm in the page cache as the installer found it.
//
//   bench_UpdateRun [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Installer/ReleaseKeys.h"
#include "Installer/ReleaseSignature.h"
#include "Support/Minisign.h"
#include "Support/NginxServer.h"
#include "Support/TemporaryDirectory.h"
#include "Support/TemporaryHome.h"
#include "Support/TestCertificate.h"

namespace {

namespace fs = std::filesystem;
using namespace tolvane;
using Form = test::MinisignKey::Form;
using namespace std::chrono_literals;

constexpr int kRounds = 5;
constexpr std::size_t kJarMiB = 256;
constexpr double kRunGoal = 0.9;
constexpr double kDownloadGoal = 0.95;
// The keyed update run against the same run without keys, at most.
constexpr double kSignedRunGoal = 1.10;
constexpr auto kLaunchTimeout = 120s;

struct Round {
  double launchSeconds = 0;     // installer: spawn until the launcher was started
  double exitSeconds = 0;       // installer: spawn until it exited
  double downloadSeconds = 0;   // installer: the jar's request, from its trace
  double curlSeconds = 0;       // curl -o: spawn until exit
  double durableSeconds = 0;    // curl -o, then on disk and over the old jar, as the installer
  double signatureSeconds = 0;  // installer with keys: the .minisig request, from its trace
};

class UpdateRunSetup {
 public:
  // With `signer`, every release is published with its signature by that key.
  explicit UpdateRunSetup(std::size_t jarMiB = kJarMiB, const test::MinisignKey* signer = nullptr)
      : signer_(signer), runtime_(workFolder() / "java" / "bin" / "java", root_.path()) {
    fs::create_directories(release());
    nginx_.emplace(release());
    for (const std::uint32_t seed : {1u, 2u}) {
      bench::writePatternJar(pattern(seed), jarMiB, seed);
    }
    bench::writeTrustedCAs(trustedCAs(), test::TestCertificate::shared().caFile());
    options_ = {{{"HOME", (root_.path() / "home").string()},
                 {"XDG_CONFIG_HOME", (root_.path() / "config").string()},
                 {"TOLVANE_UPDATE_ORIGIN", nginx_->url("")},
                 {"TOLVANE_CA_FILE", test::TestCertificate::shared().caFile().string()},
                 // Production retry delay and time-outs.
                 {"TOLVANE_RETRY_DELAY_SECONDS", std::nullopt},
                 {"TOLVANE_REQUEST_TIMEOUT_SECONDS", std::nullopt},
                 {"TOLVANE_RESOURCES", std::nullopt},
                 {"DISPLAY", std::nullopt},
                 {"WAYLAND_DISPLAY", std::nullopt}},
                "/dev/null",
                trace()};
    // The first run installs; every later one updates.
    publish(0);
    runInstaller(0);
  }

  // Publishes round `round`'s jar and removes the one before it, which no manifest names now.
  // A signed release is signed now, so that every release is newer than the one before.
  void publish(int round) {
    bench::ChildOptions quiet{{}, "/dev/null", root_.path() / "publish.err"};
    std::vector<std::string> arguments = {tool("tolvane-update-server").string(),
                                          "publish",
                                          pattern(published(round)).string(),
                                          "--root",
                                          release().string(),
                                          "--path",
                                          jarPath(round)};
    if (signer_ != nullptr) {
      const fs::path signature = signer_->sign(pattern(published(round)), Form::prehashed,
                                               std::nullopt, root_.path() / "release.minisig");
      arguments.insert(arguments.end(),
                       {"--signature", signature.string(), "--public-key", signer_->publicKey()});
    }
    if (!bench::runChild(arguments, quiet).succeeded) {
      throw std::runtime_error("publish failed: " + test::readFile(root_.path() / "publish.err"));
    }
    if (round > 0) fs::remove(release() / jarPath(round - 1));
  }

  // Times one update run until the launcher was started and until exit, and reads the jar's
  // download time from the trace.
  // `withKeys`: the installer is configured with the signer's key.
  Round runInstaller(int round, bool withKeys = false) {
    runtime_.reset();
    bench::ChildOptions options = options_;
    options.environment.emplace_back("TOLVANE_RELEASE_PUBLIC_KEYS",
                                     withKeys ? std::optional(signer_->publicKey()) : std::nullopt);
    bench::Child child({tool("tolvane-installer").string(), "--headless", "--verbose"}, options);
    const auto launched = runtime_.waitForRecord(kLaunchTimeout);
    const bench::ChildRun exited = child.wait();
    if (!launched || !exited.succeeded) {
      throw std::runtime_error("the installer did not start the launcher: " +
                               test::readFile(trace()));
    }
    runtime_.checkLaunched(workFolder(), workFolder() / "Tolvane.jar", "the installer");
    check(workFolder() / "Tolvane.jar", round, "the installer");
    Round result;
    result.launchSeconds = bench::seconds(*launched - child.started());
    result.exitSeconds = exited.seconds;
    result.downloadSeconds = tracedSeconds(nginx_->url("/" + jarPath(round)));
    if (withKeys) {
      result.signatureSeconds = tracedSeconds(nginx_->url("/" + jarPath(round) + ".minisig"));
    }
    return result;
  }

  // The verification the keyed installer did, of the jar it installed in round `round`, in the
  // given form of signature (made here, untimed).
  double verifySeconds(int round, Form form) const {
    const fs::path signature = signer_->sign(pattern(published(round)), form, std::nullopt,
                                             root_.path() / "verify.minisig");
    const ReleaseKeys keys = ReleaseKeys::parse(signer_->publicKey());
    const auto start = std::chrono::steady_clock::now();
    (void)ReleaseSignature::read(signature).verify(workFolder() / "Tolvane.jar", keys);
    return bench::seconds(std::chrono::steady_clock::now() - start);
  }

  // nginx answered round `round`'s jar once, and its signature once to a keyed installer and
  // never to one without keys.
  void checkSignedRequests(int round, bool withKeys) const {
    const auto requests = nginx_->requests();
    const auto count = [&](const std::string& line) {
      return std::count(requests.begin(), requests.end(), line);
    };
    if (count("GET /" + jarPath(round) + " 200") != 1 ||
        count("GET /" + jarPath(round) + ".minisig 200") != (withKeys ? 1 : 0)) {
      throw std::runtime_error("round " + std::to_string(round) +
                               ": nginx did not answer the jar and its signature as expected");
    }
  }

  double runCurl(int round) {
    const fs::path out = root_.path() / "curl.out";
    fs::remove(out);
    // -q first: no ~/.curlrc, so curl does exactly what it is told here.
    const auto run =
        bench::runChild({"curl", "-q", "-s", "-S", "-f", "--cacert", trustedCAs().string(), "-o",
                         out.string(), nginx_->url("/" + jarPath(round))});
    if (!run.succeeded) throw std::runtime_error("curl -o failed");
    check(out, round, "curl -o");
    return run.seconds;
  }

  // The installer's job done with curl: the file is made durable (sync -d: fdatasync) before
  // it replaces the previous round's jar (whose blocks are freed by the rename), as the
  // installer does so that a crash never leaves a jar that the stored entry vouches for.
  double runDurableCurl(int round) {
    const fs::path partial = root_.path() / "curl-jar.partial";
    const fs::path jar = root_.path() / "curl-jar";
    const auto run = bench::runChild(
        {"/bin/sh", "-c",
         R"(curl -q -s -S -f --cacert "$1" -o "$2" "$3" && sync -d "$2" && mv "$2" "$4")", "sh",
         trustedCAs().string(), partial.string(), nginx_->url("/" + jarPath(round)), jar.string()});
    if (!run.succeeded) throw std::runtime_error("curl -o with sync and mv failed");
    check(jar, round, "curl -o with sync and mv");
    return run.seconds;
  }

  // nginx answered round `round`'s jar exactly once to each side.
  void checkRequests(int round) const {
    const auto requests = nginx_->requests();
    if (std::count(requests.begin(), requests.end(), "GET /" + jarPath(round) + " 200") != 3) {
      throw std::runtime_error("round " + std::to_string(round) +
                               ": nginx did not send the jar once to each side");
    }
  }

 private:
  static fs::path tool(const std::string& name) {
    return bench::selfExecutable().parent_path() / name;
  }
  static std::string jarPath(int round) {
    return "files/Tolvane-" + std::to_string(round) + ".jar";
  }
  static std::uint32_t published(int round) { return round % 2 == 0 ? 1 : 2; }

  [[nodiscard]] fs::path release() const { return root_.path() / "release"; }
  [[nodiscard]] fs::path workFolder() const { return root_.path() / "home" / "Tolvane"; }
  [[nodiscard]] fs::path pattern(std::uint32_t seed) const {
    return root_.path() / ("pattern-" + std::to_string(seed) + ".jar");
  }
  [[nodiscard]] fs::path trustedCAs() const { return root_.path() / "trusted-cas.pem"; }
  [[nodiscard]] fs::path trace() const { return root_.path() / "installer.err"; }

  void check(const fs::path& file, int round, const std::string& who) const {
    if (!bench::sameContents(file, pattern(published(round)))) {
      throw std::runtime_error(who + " stored other bytes than the published jar");
    }
  }

  // The duration of the one attempt the trace shows for `url`.
  [[nodiscard]] double tracedSeconds(const std::string& url) const {
    const std::string prefix = "HTTP GET " + url + " attempt 1: 200 in ";
    std::ifstream lines(trace());
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind(prefix, 0) == 0) return std::stod(line.substr(prefix.size())) / 1e3;
    }
    throw std::runtime_error("the trace shows no single successful download of " + url);
  }

  test::TemporaryDirectory root_;
  const test::MinisignKey* signer_;
  std::optional<test::NginxServer> nginx_;
  bench::StandInRuntime runtime_;
  bench::ChildOptions options_;
};

// The median of one field over the rounds.
template <typename Row>
double medianOf(const std::vector<Row>& rounds, double Row::*field) {
  std::vector<double> values;
  for (const auto& round : rounds) values.push_back(round.*field);
  return bench::median(values);
}

std::optional<Round> measured;  // medians of every field
bool comparedWithCurl = false;  // the comparison ran, whether or not it measured anything

void BM_UpdateRunVersusCurl(benchmark::State& state) {
  comparedWithCurl = true;
  if (const auto reason = test::NginxServer::skipReason(); !reason.empty()) {
    state.SkipWithError(reason.c_str());
    return;
  }
  std::vector<Round> rounds;
  try {
    UpdateRunSetup setup;
    int round = 1;
    for (auto _ : state) {
      setup.publish(round);  // not timed: manual time below
      Round result;
      double curl = 0;
      double durable = 0;
      if (round % 2 == 0) {
        result = setup.runInstaller(round);
        curl = setup.runCurl(round);
        durable = setup.runDurableCurl(round);
      } else {
        durable = setup.runDurableCurl(round);
        curl = setup.runCurl(round);
        result = setup.runInstaller(round);
      }
      result.curlSeconds = curl;
      result.durableSeconds = durable;
      setup.checkRequests(round);
      state.SetIterationTime(result.launchSeconds);
      rounds.push_back(result);
      ++round;
    }
  } catch (const std::exception& error) {
    state.SkipWithError(error.what());
    return;
  }
  const auto median = [&](double Round::*field) { return medianOf(rounds, field); };
  measured = Round{median(&Round::launchSeconds), median(&Round::exitSeconds),
                   median(&Round::downloadSeconds), median(&Round::curlSeconds),
                   median(&Round::durableSeconds)};
  state.counters["launch_ms"] = measured->launchSeconds * 1e3;
  state.counters["exit_ms"] = measured->exitSeconds * 1e3;
  state.counters["download_ms"] = measured->downloadSeconds * 1e3;
  state.counters["curl_ms"] = measured->curlSeconds * 1e3;
  state.counters["durable_curl_ms"] = measured->durableSeconds * 1e3;
}

BENCHMARK(BM_UpdateRunVersusCurl)
    ->Iterations(kRounds)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The medians of the signed update run, per jar size in MiB.
struct SignedRun {
  double unsignedLaunchSeconds = 0;  // installer without keys: spawn until the launcher started
  double signedLaunchSeconds = 0;    // installer with the key: the same
  double downloadSeconds = 0;        // installer with the key: the jar's request
  double signatureSeconds = 0;       // installer with the key: the .minisig request
  double verifySeconds = 0;          // verification of the installed jar, prehashed
  double legacyVerifySeconds = 0;    // the same with a legacy signature
};
// Every size that ran; nothing when it measured nothing.
std::map<std::int64_t, std::optional<SignedRun>> signedMeasured;

void BM_SignedUpdateRun(benchmark::State& state) {
  signedMeasured[state.range(0)] = std::nullopt;
  if (const auto reason = test::NginxServer::skipReason(); !reason.empty()) {
    state.SkipWithError(reason.c_str());
    return;
  }
  std::vector<SignedRun> rounds;
  try {
    const test::TemporaryDirectory keys;
    const test::MinisignKey key(keys.path(), "release");
    UpdateRunSetup setup(static_cast<std::size_t>(state.range(0)), &key);
    int release = 1;
    for (auto _ : state) {
      SignedRun result;
      // Every run updates to a release of its own; the two installers take turns going first.
      const bool keyedFirst = rounds.size() % 2 == 0;
      for (const bool withKeys : {keyedFirst, !keyedFirst}) {
        setup.publish(release);  // not timed: manual time below
        const Round run = setup.runInstaller(release, withKeys);
        setup.checkSignedRequests(release, withKeys);
        if (withKeys) {
          result.signedLaunchSeconds = run.launchSeconds;
          result.downloadSeconds = run.downloadSeconds;
          result.signatureSeconds = run.signatureSeconds;
          result.verifySeconds = setup.verifySeconds(release, Form::prehashed);
          result.legacyVerifySeconds = setup.verifySeconds(release, Form::legacy);
        } else {
          result.unsignedLaunchSeconds = run.launchSeconds;
        }
        ++release;
      }
      state.SetIterationTime(result.signedLaunchSeconds);
      rounds.push_back(result);
    }
  } catch (const std::exception& error) {
    state.SkipWithError(error.what());
    return;
  }
  const auto median = [&](double SignedRun::*field) { return medianOf(rounds, field); };
  const SignedRun medians{
      median(&SignedRun::unsignedLaunchSeconds), median(&SignedRun::signedLaunchSeconds),
      median(&SignedRun::downloadSeconds),       median(&SignedRun::signatureSeconds),
      median(&SignedRun::verifySeconds),         median(&SignedRun::legacyVerifySeconds)};
  signedMeasured[state.range(0)] = medians;
  state.counters["unsigned_ms"] = medians.unsignedLaunchSeconds * 1e3;
  state.counters["signed_ms"] = medians.signedLaunchSeconds * 1e3;
  state.counters["download_ms"] = medians.downloadSeconds * 1e3;
  state.counters["signature_ms"] = medians.signatureSeconds * 1e3;
  state.counters["verify_ms"] = medians.verifySeconds * 1e3;
  state.counters["verify_legacy_ms"] = medians.legacyVerifySeconds * 1e3;
}

BENCHMARK(BM_SignedUpdateRun)
    ->Arg(static_cast<std::int64_t>(kJarMiB))
    ->Arg(5)
    ->Iterations(kRounds)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// "<curl / ours> [<ours> ms vs <curl> ms]": a throughput ratio, met when at least `goal`.
void printRatio(const std::string& item, double ours, double curl, double goal,
                const std::string& extra = "") {
  const double ratio = curl / ours;
  bench::printSummary(item,
                      bench::formatted(ratio, 2) + " [" + bench::formatted(ours * 1e3, 0, "ms") +
                          extra + " vs " + bench::formatted(curl * 1e3, 0, "ms") + "]",
                      ">= " + bench::formatted(goal, 2), ratio >= goal);
}

}  // namespace

int main(int argc, char** argv) {
  if (!bench::runBenchmarks(argc, argv)) return 1;
  const std::string sizeAndRounds =
      ", " + std::to_string(kJarMiB) + " MiB from nginx, median of " + std::to_string(kRounds);
  const std::string runItem = "whole update run / curl -o" + sizeAndRounds;
  const std::string downloadItem = "download in the update run / curl -o" + sizeAndRounds;
  const std::string durableItem =
      "whole update run / curl -o + sync -d + mv over the old jar" + sizeAndRounds;
  int status = 0;
  if (measured) {
    printRatio(runItem, measured->launchSeconds, measured->curlSeconds, kRunGoal,
               " until the launcher started, exit " +
                   bench::formatted(measured->exitSeconds * 1e3, 0, "ms"));
    printRatio(downloadItem, measured->downloadSeconds, measured->curlSeconds, kDownloadGoal);
    printRatio(durableItem, measured->launchSeconds, measured->durableSeconds, kRunGoal);
  } else if (comparedWithCurl) {
    bench::printSummary(runItem, std::nullopt, ">= 0.90", false);
    bench::printSummary(downloadItem, std::nullopt, ">= 0.95", false);
    bench::printSummary(durableItem, std::nullopt, ">= 0.90", false);
    status = 1;
  }
  // "<signed / unsigned> [<signed> ms vs <unsigned> ms; in the signed run: download <d> ms,
  // signature request <s> ms, verification <v> ms (legacy <l> ms)]"
  for (const auto& [mebibytes, measuredRun] : signedMeasured) {
    const std::string item = "update run with / without release keys, " +
                             std::to_string(mebibytes) + " MiB from nginx, median of " +
                             std::to_string(kRounds);
    const std::string goal = "<= " + bench::formatted(kSignedRunGoal, 2);
    if (!measuredRun) {
      bench::printSummary(item, std::nullopt, goal, false);
      status = 1;
      continue;
    }
    const SignedRun& run = *measuredRun;
    const double ratio = run.signedLaunchSeconds / run.unsignedLaunchSeconds;
    bench::printSummary(
        item,
        bench::formatted(ratio, 2) + " [" +
            bench::formatted(run.signedLaunchSeconds * 1e3, 0, "ms") + " vs " +
            bench::formatted(run.unsignedLaunchSeconds * 1e3, 0, "ms") + "; keyed run: download " +
            bench::formatted(run.downloadSeconds * 1e3, 0, "ms") + ", signature request " +
            bench::formatted(run.signatureSeconds * 1e3, 0, "ms") + ", verification " +
            bench::formatted(run.verifySeconds * 1e3, 0, "ms") + " (legacy signature " +
            bench::formatted(run.legacyVerifySeconds * 1e3, 0, "ms") + ")]",
        goal, ratio <= kSignedRunGoal);
  }
  return status;
}
