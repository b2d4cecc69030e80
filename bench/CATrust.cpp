// What trusting the CAs costs each new TLS connection, by where libcurl is told to find them.
// Raw libcurl, one easy handle per configuration, sequential GETs of a small body from the
// loopback HTTPS server, every one on a fresh connection with a full handshake (no connection
// reuse, no TLS session resumption, which would skip the certificate check):
//   bundle + folder  CAINFO the system bundle plus the test CA, CAPATH a hashed folder holding
//                    the system's links plus the test CA: Debian's libcurl default, which
//                    reads the whole bundle again for every connection;
//   folder only      no CAINFO: OpenSSL looks issuers up in the folder when it needs them;
//   bundle only      no CAPATH: libcurl keeps the parsed bundle, so only the first connection
//                    of the handle reads it;
//   extra file + folder  CAINFO the test CA alone, CAPATH the system's links alone: what the
//                    transport does with TOLVANE_CA_FILE; the small file is read per connection.
//
//   bench_CATrust [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Platform/NetworkLibraries.h"
#include "Support/LoopbackServer.h"
#include "Support/TemporaryDirectory.h"
#include "Support/TestCertificate.h"

namespace {

namespace fs = std::filesystem;
using namespace tolvane;

constexpr int kConnections = 200;
// "Well under" the default: at most this share of its time per connection.
constexpr double kGoalShare = 0.5;
const fs::path kSystemFolder = "/etc/ssl/certs";

enum class Trust { bundleAndFolder, folderOnly, bundleOnly, extraFileAndFolder };

struct Configuration {
  Trust trust;
  const char* benchmarkName;  // what --benchmark_filter selects
  const char* description;    // for the summary
};
constexpr Configuration kConfigurations[] = {
    {Trust::bundleAndFolder, "bundle_and_folder", "CA bundle + folder (libcurl's default)"},
    {Trust::folderOnly, "folder_only", "CA folder only"},
    {Trust::bundleOnly, "bundle_only", "CA bundle only"},
    {Trust::extraFileAndFolder, "extra_file_and_folder", "extra CA file + system CA folder"},
};

// The name OpenSSL looks a certificate up by in a hashed folder, without the ".<n>" suffix.
std::string subjectHash(const fs::path& certificate) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(certificate.c_str(), "r"), &std::fclose);
  if (!file) throw std::runtime_error("cannot read " + certificate.string());
  std::unique_ptr<X509, void (*)(X509*)> parsed(
      PEM_read_X509(file.get(), nullptr, nullptr, nullptr), &X509_free);
  if (!parsed) throw std::runtime_error("no certificate in " + certificate.string());
  char name[16];
  std::snprintf(name, sizeof name, "%08lx", X509_subject_name_hash(parsed.get()));
  return name;
}

// A hashed folder with a link for every "<hash>.<n>" entry of the system's.
void linkSystemFolder(const fs::path& folder) {
  fs::create_directories(folder);
  for (const auto& entry : fs::directory_iterator(kSystemFolder)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > 2 && name[name.size() - 2] == '.' &&
        std::isdigit(static_cast<unsigned char>(name.back()))) {
      fs::create_symlink(entry.path(), folder / name);
    }
  }
}

struct Setup {
  test::TemporaryDirectory root;
  test::LoopbackServer server;
  fs::path testCA = test::TestCertificate::shared().caFile();
  fs::path bundle = root.path() / "bundle.pem";
  fs::path folder = root.path() / "certs";               // the system's and the test CA
  fs::path systemFolder = root.path() / "system-certs";  // the system's alone

  Setup() {
    server.server().set_tcp_nodelay(true);
    server.serveBody("/small", std::string(64, 'x'), "application/octet-stream");
    server.start();
    bench::writeTrustedCAs(bundle, testCA);
    linkSystemFolder(systemFolder);
    linkSystemFolder(folder);
    const std::string hash = subjectHash(testCA);
    int suffix = 0;
    while (fs::exists(folder / (hash + "." + std::to_string(suffix)))) ++suffix;
    fs::copy_file(testCA, folder / (hash + "." + std::to_string(suffix)));
  }

  [[nodiscard]] const char* caFile(Trust trust) const {
    switch (trust) {
      case Trust::folderOnly:
        return nullptr;
      case Trust::extraFileAndFolder:
        return testCA.c_str();
      default:
        return bundle.c_str();
    }
  }
  [[nodiscard]] const char* caFolder(Trust trust) const {
    switch (trust) {
      case Trust::bundleOnly:
        return nullptr;
      case Trust::extraFileAndFolder:
        return systemFolder.c_str();
      default:
        return folder.c_str();
    }
  }
};

Setup& setup() {
  static Setup instance;
  return instance;
}

std::map<Trust, double>& microsecondsPerConnection() {
  static std::map<Trust, double> results;
  return results;
}

std::size_t discard(char*, std::size_t size, std::size_t count, void*) { return size * count; }

void BM_FreshConnections(benchmark::State& state, Trust trust) {
  auto& s = setup();
  const std::string url = s.server.url("/small");
  const std::unique_ptr<CURL, void (*)(CURL*)> handle(curl_easy_init(), &curl_easy_cleanup);
  CURL* curl = handle.get();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &discard);
  curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
  curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_SESSIONID_CACHE, 0L);
  curl_easy_setopt(curl, CURLOPT_CAINFO, s.caFile(trust));
  curl_easy_setopt(curl, CURLOPT_CAPATH, s.caFolder(trust));
  long failures = 0;
  for (auto _ : state) {
    for (int i = 0; i < kConnections; ++i) {
      long status = 0;
      if (curl_easy_perform(curl) != CURLE_OK ||
          curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 200) {
        ++failures;
      }
    }
  }
  if (failures > 0) {
    state.SkipWithError("a request failed: the CAs were not trusted");
    return;
  }
  state.SetItemsProcessed(state.iterations() * kConnections);
}

// Keeps each configuration's time per connection for the summary.
class Reporter : public benchmark::ConsoleReporter {
 public:
  Reporter() : ConsoleReporter(OO_Tabular) {}  // plain text: scripts/bench keeps it in files

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      failed_ = failed_ || run.error_occurred;
      for (const auto& configuration : kConfigurations) {
        const std::string name = std::string("/") + configuration.benchmarkName + "/";
        if (!run.error_occurred && run.benchmark_name().find(name) != std::string::npos) {
          // Real time per iteration is in milliseconds, over kConnections connections.
          microsecondsPerConnection()[configuration.trust] =
              run.GetAdjustedRealTime() * 1e3 / kConnections;
        }
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  [[nodiscard]] bool failed() const { return failed_; }

 private:
  bool failed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  // Before the server or libcurl touch OpenSSL: its state must outlive the server's threads.
  platform::initialiseNetworkLibraries();
  for (const auto& configuration : kConfigurations) {
    benchmark::RegisterBenchmark(
        (std::string("BM_FreshConnections/") + configuration.benchmarkName).c_str(),
        BM_FreshConnections, configuration.trust)
        ->Iterations(1)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
  }
  Reporter reporter;
  if (!bench::runBenchmarks(argc, argv, &reporter)) return 1;
  const auto& results = microsecondsPerConnection();
  const auto reference = results.find(Trust::bundleAndFolder);
  for (const auto& configuration : kConfigurations) {
    const std::string item = std::string("fresh TLS connection, ") + configuration.description +
                             ", " + std::to_string(kConnections) + " in a row";
    const auto found = results.find(configuration.trust);
    const std::string value = found == results.end()
                                  ? "not measured"
                                  : bench::formatted(found->second, 0, "us per connection");
    const std::string goal =
        configuration.trust == Trust::bundleAndFolder
            ? "the reference for the lines below"
            : "well under bundle + folder, <= " + bench::formatted(kGoalShare, 1);
    if (found == results.end()) {
      bench::printSummary(item, std::nullopt, goal, false);
      continue;
    }
    if (reference == results.end() || configuration.trust == Trust::bundleAndFolder) {
      // Measured, but nothing to judge it by: the reference itself, or it was not selected.
      std::printf("%s: %s (goal %s)\n", item.c_str(), value.c_str(), goal.c_str());
      continue;
    }
    const double share = found->second / reference->second;
    bench::printSummary(item, value + ", " + bench::formatted(share, 2) + " of bundle + folder",
                        goal, share <= kGoalShare);
  }
  std::fflush(stdout);
  return reporter.failed() ? 1 : 0;
}
