#include "UpdateServer/Tool.h"

#include <exception>
#include <type_traits>

#include "UpdateServer/CommandLine.h"
#include "UpdateServer/Publisher.h"
#include "UpdateServer/ToolError.h"

namespace tolvane::tools {

int Tool::run(const std::vector<std::string>& arguments) {
  try {
    const CommandLine::Command command = CommandLine::parse(arguments);
    return std::visit(
        [this](const auto& parsed) -> int {
          using Parsed = std::decay_t<decltype(parsed)>;
          if constexpr (std::is_same_v<Parsed, CommandLine::Help>) {
            out_ << parsed.text << std::flush;
          } else if constexpr (std::is_same_v<Parsed, CommandLine::Publish>) {
            const ManifestEntry entry =
                Publisher(ReleaseFolder(parsed.root)).publish(parsed.jar, parsed.path);
            out_ << "published " << entry.path << " (" << entry.size << " bytes, sha256 "
                 << entry.hash << ") in " << parsed.root.string() << "\n"
                 << std::flush;
          } else {
            UpdateServer::Options options = parsed.options;
            if (parsed.log) {
              options.log = &err_;
            }
            UpdateServer server(std::move(options));
            server.start();
            // Scripts read the port from this line, so it must not sit in a buffer.
            out_ << "listening on " << server.origin() << std::endl;
            waitForStop_(server);
            server.stop();
          }
          return 0;
        },
        command);
  } catch (const ToolError& error) {
    err_ << "tolvane-update-server: " << error.localizedDescription() << std::endl;
    return error.exitCode();
  } catch (const std::exception& error) {
    err_ << "tolvane-update-server: " << error.what() << std::endl;
    return ToolError::kFailureExitCode;
  }
}

}  // namespace tolvane::tools
