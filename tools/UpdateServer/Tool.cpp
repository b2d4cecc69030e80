#include "UpdateServer/Tool.h"

#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <type_traits>

#include "Installer/ReleaseSignatureError.h"
#include "UpdateServer/CommandLine.h"
#include "UpdateServer/Publisher.h"
#include "UpdateServer/ToolError.h"

namespace tolvane::tools {
namespace {

// --public-key takes the key itself or the .pub file minisign wrote.
ReleasePublicKey publicKeyFrom(const std::string& argument) {
  std::string text = argument;
  std::error_code error;
  if (std::filesystem::is_regular_file(argument, error)) {
    std::ifstream file(argument, std::ios::binary);
    std::ostringstream contents;
    contents << file.rdbuf();
    text = contents.str();
  }
  try {
    return ReleasePublicKey::parse(text);
  } catch (const ReleaseSignatureError& refusal) {
    throw ToolError::usage("publish: --public-key is neither a key nor a readable .pub file: " +
                           refusal.localizedDescription());
  }
}

std::optional<Publisher::Signing> signingOf(const CommandLine::Publish& publish) {
  if (!publish.signature) return std::nullopt;
  return Publisher::Signing{
      *publish.signature,
      publish.publicKey ? std::optional(publicKeyFrom(*publish.publicKey)) : std::nullopt};
}

}  // namespace

int Tool::run(const std::vector<std::string>& arguments) {
  try {
    const CommandLine::Command command = CommandLine::parse(arguments);
    return std::visit(
        [this](const auto& parsed) -> int {
          using Parsed = std::decay_t<decltype(parsed)>;
          if constexpr (std::is_same_v<Parsed, CommandLine::Help>) {
            out_ << parsed.text << std::flush;
          } else if constexpr (std::is_same_v<Parsed, CommandLine::Publish>) {
            const Publisher::Publication publication =
                Publisher(ReleaseFolder(parsed.root), stopSignal_)
                    .publish(parsed.jar, parsed.path, signingOf(parsed));
            const ManifestEntry& entry = publication.entry;
            if (publication.replacedDifferentFile) {
              err_ << "tolvane-update-server: warning: \"" << entry.path
                   << "\" held a different file; installers that read the previous manifest "
                      "now download this one. Publish each release under a path of its own.\n"
                   << std::flush;
            }
            out_ << "published " << entry.path << " (" << entry.size << " bytes, sha256 "
                 << entry.hash << ") in " << parsed.root.string() << "\n";
            if (const auto& signature = publication.signature) {
              out_ << "published " << signature->path << " (key " << signature->keyId
                   << ", timestamp " << signature->timestamp << ", "
                   << (signature->verified ? "verified with the given key"
                                           : "not verified: no --public-key")
                   << ")\n";
            }
            out_ << std::flush;
          } else {
            UpdateServer::Options options = parsed.options;
            if (parsed.log) {
              options.log = &err_;
            }
            UpdateServer server(std::move(options));
            server.start();
            const ReleaseFolder folder(parsed.options.root);
            if (!std::filesystem::exists(folder.manifestFile())) {
              err_ << "tolvane-update-server: warning: " << folder.manifestFile().string()
                   << " does not exist yet; /loaderv3.php answers 404 until a publish\n"
                   << std::flush;
            }
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
