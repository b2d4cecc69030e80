#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "App/CommandLine.h"
#include "App/Desktop/DesktopApp.h"
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
  if (!options.headless && hasDisplay()) {
    if (const auto status = tolvane::DesktopApp::start(argv[0], steps)) return *status;
    std::cerr << program << ": cannot open the display; continuing without a window." << std::endl;
  }
  return tolvane::HeadlessFrontend(steps, std::cout, std::cerr).run();
}
