#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "UpdateServer/UpdateServer.h"

namespace tolvane::tools {

// Reads tolvane-update-server's arguments (without the program name) into the command
// they ask for. Options take their value as the next argument or after "=". Bad usage
// throws ToolError with the usage exit code and a message naming the problem.
class CommandLine {
 public:
  struct Serve {
    UpdateServer::Options options;  // log stream left unset; the caller owns the streams
    bool log = false;
  };
  struct Publish {
    std::filesystem::path jar;
    std::filesystem::path root;
    std::string path;
    // The jar's minisign signature, published next to it.
    std::optional<std::filesystem::path> signature = std::nullopt;
    // A public key ("RW...") or the path of a .pub file that the signature must verify with.
    std::optional<std::string> publicKey = std::nullopt;
  };
  struct Help {
    std::string text;
  };
  using Command = std::variant<Serve, Publish, Help>;

  [[nodiscard]] static Command parse(const std::vector<std::string>& arguments);

  static const char* const kUsage;
  static const char* const kServeUsage;
  static const char* const kPublishUsage;
};

}  // namespace tolvane::tools
