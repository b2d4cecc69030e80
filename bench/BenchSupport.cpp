#include "BenchSupport.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "Platform/FileDescriptor.h"
#include "Support/LoopbackServer.h"
#include "Support/TemporaryHome.h"
#include "Support/TestArchives.h"

extern char** environ;

namespace tolvane::bench {

namespace fs = std::filesystem;

namespace {

// The helper of runMeasured(): its flag, and the descriptor it writes its report to.
constexpr const char* kHelperFlag = "--bench-measure-child";
constexpr int kReportFd = 3;

// Our environment with the requested changes, as "NAME=value" strings.
std::vector<std::string> environmentWith(const ChildOptions& options) {
  std::map<std::string, std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text(*entry);
    const auto equals = text.find('=');
    if (equals != std::string::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const auto& [name, value] : options.environment) {
    if (value) {
      variables[name] = *value;
    } else {
      variables.erase(name);
    }
  }
  std::vector<std::string> entries;
  for (const auto& [name, value] : variables) entries.push_back(name + "=" + value);
  return entries;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> result;
  for (auto& text : texts) result.push_back(text.data());
  result.push_back(nullptr);
  return result;
}

class FileActions {
 public:
  FileActions() { posix_spawn_file_actions_init(&actions_); }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;

  void redirect(int fd, const fs::path& file) {
    if (posix_spawn_file_actions_addopen(&actions_, fd, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644) != 0) {
      throw std::runtime_error("cannot redirect to " + file.string());
    }
  }
  void duplicate(int from, int to) {
    if (posix_spawn_file_actions_adddup2(&actions_, from, to) != 0) {
      throw std::runtime_error("cannot pass a pipe");
    }
  }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

// Exit status (nothing when waiting failed) and resource usage of a child.
std::pair<std::optional<int>, rusage> waitFor(pid_t pid) {
  int status = 0;
  rusage usage{};
  pid_t waited = 0;
  do {
    waited = ::wait4(pid, &status, 0, &usage);
  } while (waited < 0 && errno == EINTR);
  return {waited == pid ? std::optional(status) : std::nullopt, usage};
}

}  // namespace

Child::Child(const std::vector<std::string>& arguments, const ChildOptions& options)
    : Child(arguments, options, -1) {}

Child::Child(const std::vector<std::string>& arguments, const ChildOptions& options, int reportFd) {
  std::vector<std::string> argumentTexts = arguments;
  std::vector<std::string> environmentTexts = environmentWith(options);
  auto argv = pointers(argumentTexts);
  auto envp = pointers(environmentTexts);
  FileActions actions;
  if (options.standardOutput) actions.redirect(STDOUT_FILENO, *options.standardOutput);
  if (options.standardError) actions.redirect(STDERR_FILENO, *options.standardError);
  if (reportFd >= 0) actions.duplicate(reportFd, kReportFd);
  started_ = std::chrono::steady_clock::now();
  const int failure =
      posix_spawnp(&pid_, argv[0], actions.get(), nullptr, argv.data(), envp.data());
  if (failure != 0) {
    pid_ = -1;
    throw std::runtime_error("cannot start " + arguments.front() + ": " + std::strerror(failure));
  }
}

Child::~Child() {
  if (pid_ > 0) wait();
}

ChildRun Child::wait() {
  if (pid_ <= 0) throw std::logic_error("the child was already waited for");
  const auto [status, usage] = waitFor(pid_);
  pid_ = -1;
  ChildRun run;
  run.seconds = seconds(std::chrono::steady_clock::now() - started_);
  run.succeeded = status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
  return run;
}

ChildRun runChild(const std::vector<std::string>& arguments, const ChildOptions& options) {
  Child child(arguments, options);
  return child.wait();
}

ChildRun runMeasured(const std::vector<std::string>& arguments, const ChildOptions& options) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
  platform::FileDescriptor readEnd(ends[0]);
  platform::FileDescriptor writeEnd(ends[1]);
  std::vector<std::string> helper = {selfExecutable().string(), kHelperFlag};
  helper.insert(helper.end(), arguments.begin(), arguments.end());
  ChildRun outer;
  {
    Child child(helper, options, writeEnd.get());
    writeEnd.reset();
    outer = child.wait();
  }
  std::string report;
  char buffer[256];
  for (ssize_t n = 0; (n = ::read(readEnd.get(), buffer, sizeof buffer)) > 0;) {
    report.append(buffer, static_cast<std::size_t>(n));
  }
  double childSeconds = 0;
  long peakKiB = 0;
  int childStatus = -1;
  if (std::sscanf(report.c_str(), "%lf %ld %d", &childSeconds, &peakKiB, &childStatus) != 3) {
    return {};
  }
  ChildRun run;
  run.seconds = childSeconds;
  run.peakMiB = static_cast<double>(peakKiB) / 1024.0;  // ru_maxrss is in KiB on Linux
  run.succeeded = outer.succeeded && childStatus == 0;
  return run;
}

std::optional<int> runMeasuringHelper(int argc, char** argv) {
  if (argc < 3 || std::strcmp(argv[1], kHelperFlag) != 0) return std::nullopt;
  const auto start = std::chrono::steady_clock::now();
  // fork, not spawn: the child's memory starts as a copy of this process's few pages, so the
  // high-water mark it inherits is negligible.
  const pid_t pid = ::fork();
  if (pid < 0) return 126;
  if (pid == 0) {
    ::close(kReportFd);
    ::execvp(argv[2], argv + 2);
    ::_exit(127);
  }
  const auto [status, usage] = waitFor(pid);
  const bool succeeded = status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
  ::dprintf(kReportFd, "%.9f %ld %d\n", seconds(std::chrono::steady_clock::now() - start),
            usage.ru_maxrss, succeeded ? 0 : 1);
  return succeeded ? 0 : 1;
}

fs::path selfExecutable() { return fs::read_symlink("/proc/self/exe"); }

bool runBenchmarks(int argc, char** argv, benchmark::BenchmarkReporter* reporter) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return false;
  benchmark::RunSpecifiedBenchmarks(reporter);
  benchmark::Shutdown();
  std::printf("\n");
  std::fflush(stdout);
  return true;
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double seconds(std::chrono::steady_clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

void writePatternFile(const fs::path& file, std::size_t mebibytes, std::uint32_t seed) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  const std::string block = test::patternBytes(std::size_t{1} << 20, seed);
  for (std::size_t i = 0; i < mebibytes; ++i) {
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
  if (!out.flush()) throw std::runtime_error("cannot write " + file.string());
}

void writePatternJar(const fs::path& file, std::size_t mebibytes, std::uint32_t seed) {
  const fs::path entry = fs::path(file).concat(".entry");
  writePatternFile(entry, mebibytes, seed);
  test::writeTestJar(file, entry);
  fs::remove(entry);
}

bool sameContents(const fs::path& a, const fs::path& b) {
  std::ifstream x(a, std::ios::binary);
  std::ifstream y(b, std::ios::binary);
  if (!x || !y) return false;
  std::vector<char> bx(std::size_t{1} << 20);
  std::vector<char> by(bx.size());
  while (x && y) {
    x.read(bx.data(), static_cast<std::streamsize>(bx.size()));
    y.read(by.data(), static_cast<std::streamsize>(by.size()));
    if (x.gcount() != y.gcount() || !std::equal(bx.begin(), bx.begin() + x.gcount(), by.begin())) {
      return false;
    }
  }
  return !x && !y;
}

TreeSize treeSize(const fs::path& folder) {
  TreeSize size;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    ++size.entries;
    if (entry.is_regular_file() && !entry.is_symlink()) size.bytes += entry.file_size();
  }
  return size;
}

void printSummary(const std::string& item, const std::optional<std::string>& value,
                  const std::string& goal, bool met) {
  std::printf("%s: %s (goal %s) %s\n", item.c_str(), value ? value->c_str() : "not measured",
              goal.c_str(), value && met ? "ok" : "MISSED");
  std::fflush(stdout);
}

std::string formatted(double value, int decimals, const std::string& unit) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return unit.empty() ? std::string(text) : std::string(text) + " " + unit;
}

int printTimeRatioSummary(const std::string& item,
                          std::optional<std::pair<double, double>> oursAndBaselineSeconds,
                          double goal, int millisecondDecimals) {
  const std::string goalText = "<= " + formatted(goal, 1);
  if (!oursAndBaselineSeconds) {
    printSummary(item, std::nullopt, goalText, false);
    return 1;
  }
  const auto [ours, baseline] = *oursAndBaselineSeconds;
  const double ratio = ours / baseline;
  printSummary(item,
               formatted(ratio, 2) + " [" + formatted(ours * 1e3, millisecondDecimals, "ms") +
                   " vs " + formatted(baseline * 1e3, millisecondDecimals, "ms") + "]",
               goalText, ratio <= goal);
  return 0;
}

StandInRuntime::StandInRuntime(const fs::path& executable, const fs::path& recordFolder)
    : record_(recordFolder / "launched.txt"), watch_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
  if (watch_ < 0 || ::inotify_add_watch(watch_, recordFolder.c_str(), IN_CLOSE_WRITE) < 0) {
    if (watch_ >= 0) ::close(watch_);
    throw std::runtime_error("cannot watch " + recordFolder.string());
  }
  if (record_.string().find('\'') != std::string::npos) {
    ::close(watch_);
    throw std::runtime_error("unexpected quote in " + record_.string());
  }
  fs::create_directories(executable.parent_path());
  test::writeFile(executable,
                  "#!/bin/sh\nprintf '%s\\n' \"$PWD\" \"$@\" > '" + record_.string() + "'\n",
                  fs::perms(0755));
}

StandInRuntime::~StandInRuntime() { ::close(watch_); }

void StandInRuntime::reset() {
  fs::remove(record_);
  char buffer[4096];
  while (::read(watch_, buffer, sizeof buffer) > 0) {
  }
}

std::optional<std::chrono::steady_clock::time_point> StandInRuntime::waitForRecord(
    std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + timeout;
  const std::string name = record_.filename().string();
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd entry{watch_, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0) continue;
    const auto now = Clock::now();
    alignas(inotify_event) char buffer[4096];
    const ssize_t length = ::read(watch_, buffer, sizeof buffer);
    for (ssize_t offset = 0; offset < length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
      if (event->len > 0 && name == event->name) return now;
      offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

void StandInRuntime::checkLaunched(const fs::path& workFolder, const fs::path& jar,
                                   const std::string& who) const {
  std::istringstream lines(test::readFile(record_));
  std::string folder;
  std::getline(lines, folder);
  std::vector<std::string> arguments;
  for (std::string line; std::getline(lines, line);) arguments.push_back(line);
  std::error_code ignored;
  if (!fs::equivalent(folder, workFolder, ignored) ||
      arguments != std::vector<std::string>{"-jar", jar.string()}) {
    throw std::runtime_error(who + " started the launcher in the wrong way:\n" +
                             test::readFile(record_));
  }
}

void writeTrustedCAs(const fs::path& bundle, const fs::path& extraCA) {
  test::writeFile(bundle, test::readFile("/etc/ssl/certs/ca-certificates.crt") + "\n" +
                              test::readFile(extraCA));
}

SilencedStandardOutput::SilencedStandardOutput() {
  std::fflush(stdout);
  // Close-on-exec, so the children that inherit our output do not also get the saved copy.
  saved_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  const bool redirected = saved_ >= 0 && null >= 0 && ::dup2(null, STDOUT_FILENO) >= 0;
  const int error = errno;
  if (null >= 0) ::close(null);
  if (!redirected) {
    if (saved_ >= 0) ::close(saved_);
    throw std::runtime_error(std::string("cannot silence standard output: ") +
                             std::strerror(error));
  }
}

SilencedStandardOutput::~SilencedStandardOutput() {
  std::fflush(stdout);
  if (saved_ >= 0) {
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
  }
}

}  // namespace tolvane::bench
