#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "App/CommandLine.h"
#include "App/DesktopModule.h"
#include "App/HeadlessFrontend.h"
#include "App/InstallerSteps.h"
#include "App/ProgramInfo.h"
#include "App/ProgressLine.h"
#include "App/TraceEventMonitor.h"
#include "HTTP/Core/Session.h"
#include "Platform/OperatingSystem.h"

namespace {

bool hasDisplay() {
  for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  tolvane::platform::os::recordCommandLine(argc, argv);
  // A write past the file size limit (a quota, a full disk) must fail with EFBIG and reach
  // the user as an error, not kill the program half-way through writing the jar.
  std::signal(SIGXFSZ, SIG_IGN);
  using tolvane::CommandLine;
  const std::string program = "tolvane-installer";
  const CommandLine options = CommandLine::parse(std::vector<std::string>(argv + 1, argv + argc));
  if (options.error) {
    std::cerr << program << ": " << *options.error << "\n" << CommandLine::usage(program);
    return 2;
  }
  if (options.help) {
    std::cout << CommandLine::usage(program);
    return 0;
  }
  if (options.version) {
    std::cout << program << ' ' << tolvane::ProgramInfo::version() << std::endl;
    return 0;
  }

  // Download progress is drawn only on a terminal: logs and pipes get no carriage returns.
  const auto progressLine =
      ::isatty(STDERR_FILENO) == 1 ? std::make_shared<tolvane::ProgressLine>(std::cerr) : nullptr;
  if (options.verbose) {
    std::function<void()> beforeLine;
    if (progressLine) beforeLine = [progressLine] { progressLine->clear(); };
    tolvane::http::Session::addDefaultSessionEventMonitor(
        std::make_shared<tolvane::TraceEventMonitor>(std::cerr, std::move(beforeLine)));
  }
  int status = 0;
  std::string problem;
  // The window keeps the inherited streams and shows no progress figures.
  if (const auto windowed = (!options.headless && hasDisplay())
                                ? tolvane::DesktopModule::start(
                                      argv[0], tolvane::InstallerSteps::makeDefault(), problem)
                                : std::nullopt) {
    status = *windowed;
  } else {
    if (!problem.empty()) {
      std::cerr << program << ": cannot load the window (" << problem
                << "); continuing without a window." << std::endl;
    } else if (!options.headless && hasDisplay()) {
      std::cerr << program << ": cannot open the display; continuing without a window."
                << std::endl;
    }
    // Standard output carries only the status line: the unpacker's listing goes with the
    // trace to standard error, or nowhere.
    tolvane::InstallerSteps::Options headless;
    headless.unpackerOutput = options.verbose
                                  ? tolvane::platform::Process::OutputRouting::toStandardError
                                  : tolvane::platform::Process::OutputRouting::discarded;
    if (progressLine) {
      headless.downloadProgress =
          [progressLine](const tolvane::FileDownloadService::Progress& progress) {
            if (progress.finished) {
              progressLine->finish();
            } else {
              progressLine->update(progress.bytes, progress.expected);
            }
          };
    }
    status = tolvane::HeadlessFrontend(tolvane::InstallerSteps::makeDefault(std::move(headless)),
                                       std::cout, std::cerr)
                 .run();
  }
  // Terminate the way a desktop application does: the HTTP layer's network thread and queue
  // workers may still be running, and tearing process-wide objects down underneath them is
  // neither needed nor safe. Everything that must persist (settings, window frame) is
  // already written; only the standard streams need flushing.
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  std::_Exit(status);
}
