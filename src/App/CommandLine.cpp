#include "App/CommandLine.h"

namespace tolvane {

CommandLine CommandLine::parse(const std::vector<std::string>& arguments) {
  CommandLine line;
  for (const std::string& argument : arguments) {
    if (argument == "--headless") {
      line.headless = true;
    } else if (argument == "--verbose" || argument == "-v") {
      line.verbose = true;
    } else if (argument == "--help" || argument == "-h") {
      line.help = true;
    } else if (argument == "--version") {
      line.version = true;
    } else {
      line.error = "unknown option: " + argument;
      break;
    }
  }
  return line;
}

std::string CommandLine::usage(const std::string& programName) {
  return "Usage: " + programName +
         " [--headless] [--verbose]\n"
         "Installs, updates and starts the Tolvane launcher.\n"
         "\n"
         "  --headless     run without a window: status on stdout, errors on stderr\n"
         "                 (chosen by itself when no display is available)\n"
         "  -v, --verbose  trace every HTTP request attempt on stderr\n"
         "  -h, --help     show this help and exit\n"
         "      --version  show the version and exit\n"
         "\n"
         "Exit status: 0 once the launcher has started, 1 when the installation failed,\n"
         "2 for a usage error.\n";
}

}  // namespace tolvane
