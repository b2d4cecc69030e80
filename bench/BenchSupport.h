#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace benchmark {
class BenchmarkReporter;
}

// Helpers the benchmark programs share: child processes timed from start to exit (with
// their own peak memory where asked), medians, test files, and the one-line summaries that
// scripts/bench collects.
namespace tolvane::bench {

// How a child process ended.
struct ChildRun {
  double seconds = 0;      // from start to exit
  double peakMiB = 0;      // the child's own peak resident size; only from runMeasured()
  bool succeeded = false;  // exited with status 0
};

struct ChildOptions {
  // Variables to set (a value) or remove (nothing); the rest of our environment is inherited.
  std::vector<std::pair<std::string, std::optional<std::string>>> environment;
  // Where standard output and standard error go; inherited when not set.
  std::optional<std::filesystem::path> standardOutput;
  std::optional<std::filesystem::path> standardError;
};

// A started child process, waited for at the latest on destruction, so none is left behind
// when a benchmark bails out early. Used from one thread. Times only: the peak memory the
// kernel reports for a child we spawn includes our own (see runMeasured()).
class Child {
 public:
  // Spawns `arguments` (the program is looked up in PATH when it has no "/"); throws
  // std::runtime_error when it cannot be started.
  explicit Child(const std::vector<std::string>& arguments, const ChildOptions& options = {});
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  [[nodiscard]] std::chrono::steady_clock::time_point started() const { return started_; }
  // Blocks until the child has exited.
  ChildRun wait();

 private:
  friend ChildRun runMeasured(const std::vector<std::string>&, const ChildOptions&);
  Child(const std::vector<std::string>& arguments, const ChildOptions& options, int reportFd);

  pid_t pid_ = -1;
  std::chrono::steady_clock::time_point started_;
};

// Spawns the child and waits for it.
ChildRun runChild(const std::vector<std::string>& arguments, const ChildOptions& options = {});

// Runs the child with its own peak resident size and its time from start to exit. The
// kernel's figure for a child carries the high-water mark of the memory it was started
// from, and a spawned child starts from ours; so this program is re-run as a small helper
// that forks the child from its fresh, nearly empty memory and reports wait4()'s figures.
// Every program that calls it must begin main() with runMeasuringHelper().
ChildRun runMeasured(const std::vector<std::string>& arguments, const ChildOptions& options = {});

// The helper's side: when this process was started as the helper, runs the child and
// returns the exit status for main(); otherwise nothing.
[[nodiscard]] std::optional<int> runMeasuringHelper(int argc, char** argv);

// This program's own path, for re-running it as a child.
[[nodiscard]] std::filesystem::path selfExecutable();

[[nodiscard]] double median(std::vector<double> values);
[[nodiscard]] double seconds(std::chrono::steady_clock::duration duration);

// Runs the benchmarks the command line selects (through `reporter` when given), then prints
// the blank line that sets the summary apart. False, with nothing run, when the command line
// holds arguments the library does not know: main() then returns 1.
[[nodiscard]] bool runBenchmarks(int argc, char** argv,
                                 benchmark::BenchmarkReporter* reporter = nullptr);

// Writes `mebibytes` MiB of deterministic bytes, block by block (never all in memory).
void writePatternFile(const std::filesystem::path& file, std::size_t mebibytes, std::uint32_t seed);
// The same bytes as the one entry of a Java archive, which is what the installer accepts as
// a launcher.
void writePatternJar(const std::filesystem::path& file, std::size_t mebibytes, std::uint32_t seed);
[[nodiscard]] bool sameContents(const std::filesystem::path& a, const std::filesystem::path& b);

// Number of entries and total size of the regular files below `folder`, to tell whether two
// unpacked trees hold the same thing.
struct TreeSize {
  std::uintmax_t entries = 0;
  std::uintmax_t bytes = 0;
  bool operator==(const TreeSize&) const = default;
};
[[nodiscard]] TreeSize treeSize(const std::filesystem::path& folder);

// The summary line scripts/bench collects: "<item>: <value> (goal <goal>) <ok|MISSED>".
// `value` is printed as is; an item that could not be measured passes nothing and is MISSED.
void printSummary(const std::string& item, const std::optional<std::string>& value,
                  const std::string& goal, bool met);
[[nodiscard]] std::string formatted(double value, int decimals, const std::string& unit = "");
// The summary line of a timed comparison where lower is better: "<ours / baseline>
// [<ours> ms vs <baseline> ms]", met when the ratio is at most `goal`. No times: not
// measured. Answers the program's exit status (1 when nothing was measured).
int printTimeRatioSummary(const std::string& item,
                          std::optional<std::pair<double, double>> oursAndBaselineSeconds,
                          double goal, int millisecondDecimals);

// A stand-in for the bundled runtime's bin/java that only writes its working folder and
// arguments to a record file and exits, so a run can be timed until the launcher was started
// and checked for how it was started, without the runtime's own start-up. The record is
// watched with inotify: waitForRecord() wakes up when the stand-in closes it.
class StandInRuntime {
 public:
  // Writes the stand-in at `executable`; its record is `recordFolder`/launched.txt.
  StandInRuntime(const std::filesystem::path& executable,
                 const std::filesystem::path& recordFolder);
  ~StandInRuntime();
  StandInRuntime(const StandInRuntime&) = delete;
  StandInRuntime& operator=(const StandInRuntime&) = delete;

  // Removes the record and forgets earlier events; call before each run.
  void reset();
  // When the record was closed after writing, or nothing after `timeout`.
  std::optional<std::chrono::steady_clock::time_point> waitForRecord(
      std::chrono::milliseconds timeout);
  // Throws std::runtime_error naming `who` unless the record says the launcher ran in
  // `workFolder` with "-jar <jar>".
  void checkLaunched(const std::filesystem::path& workFolder, const std::filesystem::path& jar,
                     const std::string& who) const;

 private:
  std::filesystem::path record_;
  int watch_ = -1;
};

// The system's CA bundle followed by `extraCA`, written to `bundle`: what the installer
// trusts with TOLVANE_CA_FILE, for curl's --cacert.
void writeTrustedCAs(const std::filesystem::path& bundle, const std::filesystem::path& extraCA);

// Points our own standard output at /dev/null while it lives, so that child processes that
// inherit it (the unpacking tool's listing) write nowhere. Restores it on destruction.
class SilencedStandardOutput {
 public:
  SilencedStandardOutput();
  ~SilencedStandardOutput();
  SilencedStandardOutput(const SilencedStandardOutput&) = delete;
  SilencedStandardOutput& operator=(const SilencedStandardOutput&) = delete;

 private:
  int saved_ = -1;
};

}  // namespace tolvane::bench
