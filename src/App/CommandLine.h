#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tolvane {

// The program's options. Parsing never exits; the caller decides what to print.
struct CommandLine {
  bool headless = false;
  bool verbose = false;
  bool help = false;
  bool version = false;
  // Set when an argument is not understood; the text names it.
  std::optional<std::string> error;

  // `arguments` without the program name.
  [[nodiscard]] static CommandLine parse(const std::vector<std::string>& arguments);
  [[nodiscard]] static std::string usage(const std::string& programName);
};

}  // namespace tolvane
