#include "Platform/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <utility>

#include "Platform/FileDescriptor.h"
#include "Platform/OperatingSystem.h"
#include "Platform/SystemError.h"

namespace tolvane::platform {
namespace {

namespace fs = std::filesystem;

// What the child reports through the error pipe when it cannot start the program.
enum class Stage : int { currentDirectory = 1, execute = 2, fork = 3 };
struct LaunchFailure {
  Stage stage;
  int error;
};

// Everything the child needs, prepared before fork(): after it, in a multithreaded parent,
// the child may only make async-signal-safe calls, so no allocation happens there.
struct LaunchPlan {
  std::string executable;
  std::vector<std::string> arguments;
  std::vector<char*> argv;
  std::optional<std::string> currentDirectory;
  // Put in place of the child's standard output when set.
  int standardOutput = -1;

  LaunchPlan(const fs::path& executableURL, const std::vector<std::string>& args,
             const std::optional<fs::path>& cwd)
      : executable(executableURL.string()) {
    arguments.reserve(args.size() + 1);
    arguments.push_back(executable);
    arguments.insert(arguments.end(), args.begin(), args.end());
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (cwd) currentDirectory = cwd->string();
  }
};

void report(int fd, Stage stage, int error) {
  const LaunchFailure failure{stage, error};
  // Best effort: if even this fails the parent sees EOF and takes the launch as started.
  [[maybe_unused]] const ssize_t ignored = ::write(fd, &failure, sizeof failure);
}

// Runs in the child after fork(): async-signal-safe calls only.
[[noreturn]] void becomeProgram(const LaunchPlan& plan, int errorPipe) {
  // Close-on-exec rather than closed, so that the error pipe still works until execv; the
  // program does not inherit the installer's sockets and pipes (the launcher would hold
  // connections to the update server open for the whole game session).
  os::markInheritedDescriptorsCloseOnExec();
  // Undo what the parent's threads may have changed; the program expects defaults.
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  signal(SIGPIPE, SIG_DFL);
  signal(SIGXFSZ,
         SIG_DFL);  // ignored by the installer itself, not meant for the programs it starts
  if (plan.standardOutput >= 0 && ::dup2(plan.standardOutput, STDOUT_FILENO) < 0) {
    report(errorPipe, Stage::execute, errno);
    ::_exit(127);
  }
  if (plan.currentDirectory && ::chdir(plan.currentDirectory->c_str()) != 0) {
    report(errorPipe, Stage::currentDirectory, errno);
    ::_exit(127);
  }
  ::execv(plan.executable.c_str(), plan.argv.data());
  report(errorPipe, Stage::execute, errno);
  ::_exit(127);
}

constexpr auto kLaunch = SystemError::Operation::launch;

std::pair<FileDescriptor, FileDescriptor> makeErrorPipe(const fs::path& executable) {
  int fds[2];
  if (!os::makeCloseOnExecPipe(fds)) throw SystemError::fromErrno(kLaunch, executable);
  return {FileDescriptor(fds[0]), FileDescriptor(fds[1])};
}

// Reads the child's report; EOF without data means exec succeeded (the pipe closed on exec).
void throwIfLaunchFailed(const FileDescriptor& readEnd, const LaunchPlan& plan) {
  LaunchFailure failure{};
  size_t got = 0;
  auto* bytes = reinterpret_cast<char*>(&failure);
  while (got < sizeof failure) {
    const ssize_t n = ::read(readEnd.get(), bytes + got, sizeof failure - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (got < sizeof failure) return;
  switch (failure.stage) {
    case Stage::currentDirectory:
      throw SystemError(failure.error, kLaunch, *plan.currentDirectory);
    case Stage::fork:
    case Stage::execute:
      break;
  }
  throw SystemError(failure.error, kLaunch, plan.executable);
}

int waitForChild(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return 0;
  }
  return status;
}

}  // namespace

Process::Process(fs::path executableURL, std::vector<std::string> arguments,
                 std::optional<fs::path> currentDirectoryURL)
    : executableURL_(std::move(executableURL)),
      arguments_(std::move(arguments)),
      currentDirectoryURL_(std::move(currentDirectoryURL)) {}

Process::~Process() {
  if (pid_ > 0 && !status_) waitForChild(pid_);
}

void Process::run() {
  if (pid_ > 0) throw std::logic_error("Process::run called twice");
  LaunchPlan plan(executableURL_, arguments_, currentDirectoryURL_);
  FileDescriptor discard;
  if (outputRouting_ == OutputRouting::toStandardError) plan.standardOutput = STDERR_FILENO;
  if (outputRouting_ == OutputRouting::discarded) {
    discard.reset(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    if (!discard) throw SystemError::fromErrno(SystemError::Operation::save, "/dev/null");
    plan.standardOutput = discard.get();
  }
  auto [readEnd, writeEnd] = makeErrorPipe(executableURL_);
  const pid_t pid = ::fork();
  if (pid < 0) throw SystemError::fromErrno(kLaunch, executableURL_);
  if (pid == 0) becomeProgram(plan, writeEnd.get());
  writeEnd.reset();
  try {
    throwIfLaunchFailed(readEnd, plan);
  } catch (...) {
    waitForChild(pid);  // it has already exited with 127
    throw;
  }
  pid_ = pid;
}

TerminationStatus Process::waitUntilExit() {
  if (pid_ <= 0) throw std::logic_error("Process::waitUntilExit before run");
  if (!status_) status_ = TerminationStatus::fromWaitStatus(waitForChild(pid_));
  return *status_;
}

void Process::launchDetached(const fs::path& executableURL,
                             const std::vector<std::string>& arguments,
                             const std::optional<fs::path>& currentDirectoryURL) {
  const LaunchPlan plan(executableURL, arguments, currentDirectoryURL);
  auto [readEnd, writeEnd] = makeErrorPipe(executableURL);
  const pid_t intermediate = ::fork();
  if (intermediate < 0) throw SystemError::fromErrno(kLaunch, executableURL);
  if (intermediate == 0) {
    // The intermediate child starts a new session and exits at once; the program, its
    // child, is then adopted by init (or a subreaper) and outlives us.
    ::setsid();
    const pid_t program = ::fork();
    if (program < 0) {
      report(writeEnd.get(), Stage::fork, errno);
      ::_exit(127);
    }
    if (program == 0) becomeProgram(plan, writeEnd.get());
    ::_exit(0);
  }
  writeEnd.reset();
  waitForChild(intermediate);  // reaps it: no zombie
  throwIfLaunchFailed(readEnd, plan);
}

}  // namespace tolvane::platform
