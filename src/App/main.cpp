#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "App/CommandLine.h"
#include "App/DesktopModule.h"
#include "App/HeadlessFrontend.h"
#include "App/InstallerSteps.h"
#include "App/ProgramInfo.h"
#include "App/TraceEventMonitor.h"
#include "HTTP/Core/Session.h"

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

  if (options.verbose) {
    tolvane::http::Session::addDefaultSessionEventMonitor(std::make_shared<tolvane::TraceEventMonitor>(std::cerr));
  }
  auto steps = tolvane::InstallerSteps::makeDefault();
  int status = 0;
  std::string problem;
  if (const auto windowed = (!options.headless && hasDisplay())
                                ? tolvane::DesktopModule::start(argv[0], steps, problem)
                                : std::nullopt) {
    status = *windowed;
  } else {
    if (!problem.empty()) {
      std::cerr << program << ": cannot load the window (" << problem << "); continuing without a window."
                << std::endl;
    } else if (!options.headless && hasDisplay()) {
      std::cerr << program << ": cannot open the display; continuing without a window." << std::endl;
    }
    status = tolvane::HeadlessFrontend(steps, std::cout, std::cerr).run();
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
