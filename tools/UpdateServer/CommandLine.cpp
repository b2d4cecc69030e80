#include "UpdateServer/CommandLine.h"

#include <charconv>
#include <map>
#include <optional>
#include <set>

#include "UpdateServer/ToolError.h"

namespace tolvane::tools {

const char* const CommandLine::kServeUsage =
    "usage: tolvane-update-server serve --root <release folder> [--address 127.0.0.1]\n"
    "           [--port 0] (--cert <pem> --key <pem> | --http) [--log]\n"
    "\n"
    "Serves a release folder to the installer, for development, demos and tests:\n"
    "/loaderv3.php (any query) answers the folder's manifest, every other path the file of\n"
    "that name below the folder, with validators (ETag, Last-Modified) and byte ranges.\n"
    "Port 0 picks a free port. Prints \"listening on <origin>\" once ready; --log prints one\n"
    "line per request (method, target, status) to standard error. Stops on SIGINT or SIGTERM.\n"
    "\n"
    "In production, serve the folder that 'publish' writes with a real web server (nginx,\n"
    "a CDN) instead; see docs/operations.md.\n";

const char* const CommandLine::kPublishUsage =
    "usage: tolvane-update-server publish <jar> --root <release folder> --path <relative path>\n"
    "           [--signature <jar.minisig> [--public-key <RW... key or .pub file>]]\n"
    "\n"
    "Copies the jar to <release folder>/<relative path> and writes the manifest\n"
    "<release folder>/loaderv3.php announcing it (SHA-256 hash, size in bytes, the path as\n"
    "given). Both files are replaced atomically, and publishes into one folder take turns.\n"
    "--signature copies the jar's minisign signature to <relative path>.minisig (without it,\n"
    "a signature left there by an earlier publish is removed); with --public-key, a signature\n"
    "that does not verify the jar with that key is refused (exit status 2) and nothing changes.\n"
    "Paths that are absolute, empty, contain \"..\" or otherwise leave the folder are refused\n"
    "(exit status 2). SIGINT or SIGTERM stops a publish without changing the release.\n"
    "\n"
    "Give each release a path of its own (launcher/Tolvane-1.4.2.jar): an installer that\n"
    "read the previous manifest fetches whatever its path holds, so replacing a file in\n"
    "place hands it a file that does not match what it was told (publish warns when it\n"
    "does). Serve the folder in production with a real web server (nginx, a CDN).\n";

const char* const CommandLine::kUsage =
    "usage: tolvane-update-server serve --root <release folder> [options]\n"
    "       tolvane-update-server publish <jar> --root <release folder> --path <relative path>\n"
    "           [--signature <jar.minisig> [--public-key <key or .pub file>]]\n"
    "       tolvane-update-server <command> --help\n";

namespace {

bool isHelp(const std::string& argument) { return argument == "--help" || argument == "-h"; }

// Options of one command: "--name value" or "--name=value"; flags take no value. The
// single positional argument (publish's jar) is collected separately.
struct ParsedOptions {
  std::map<std::string, std::string> values;
  std::set<std::string> flags;
  std::vector<std::string> positional;
  bool help = false;
};

ParsedOptions parseOptions(const std::string& command, const std::vector<std::string>& arguments,
                           const std::set<std::string>& valueOptions,
                           const std::set<std::string>& flagOptions) {
  ParsedOptions parsed;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (isHelp(argument)) {
      parsed.help = true;
      continue;
    }
    if (argument.rfind("--", 0) != 0) {
      parsed.positional.push_back(argument);
      continue;
    }
    const auto equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    if (flagOptions.count(name) != 0) {
      if (equals != std::string::npos) {
        throw ToolError::usage(command + ": " + name + " takes no value");
      }
      parsed.flags.insert(name);
      continue;
    }
    if (valueOptions.count(name) == 0) {
      throw ToolError::usage(command + ": unknown option " + name);
    }
    std::string value;
    if (equals != std::string::npos) {
      value = argument.substr(equals + 1);
    } else if (i + 1 < arguments.size()) {
      value = arguments[++i];
    } else {
      throw ToolError::usage(command + ": " + name + " needs a value");
    }
    if (!parsed.values.emplace(name, value).second) {
      throw ToolError::usage(command + ": " + name + " given twice");
    }
  }
  return parsed;
}

std::string required(const ParsedOptions& parsed, const std::string& command,
                     const std::string& name) {
  const auto it = parsed.values.find(name);
  if (it == parsed.values.end()) {
    throw ToolError::usage(command + ": " + name + " is required");
  }
  return it->second;
}

int parsePort(const std::string& text) {
  int port = -1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || port < 0 ||
      port > 65535) {
    throw ToolError::usage("serve: --port must be a number from 0 to 65535, not \"" + text + "\"");
  }
  return port;
}

CommandLine::Command parseServe(const std::vector<std::string>& arguments) {
  const ParsedOptions parsed =
      parseOptions("serve", arguments, {"--root", "--address", "--port", "--cert", "--key"},
                   {"--http", "--log"});
  if (parsed.help) {
    return CommandLine::Help{CommandLine::kServeUsage};
  }
  if (!parsed.positional.empty()) {
    throw ToolError::usage("serve: unexpected argument \"" + parsed.positional.front() + "\"");
  }
  CommandLine::Serve serve;
  serve.options.root = required(parsed, "serve", "--root");
  if (auto it = parsed.values.find("--address"); it != parsed.values.end()) {
    if (it->second.empty()) {
      throw ToolError::usage("serve: --address must name an address, such as 127.0.0.1 or ::1");
    }
    serve.options.address = it->second;
  }
  if (auto it = parsed.values.find("--port"); it != parsed.values.end()) {
    serve.options.port = parsePort(it->second);
  }
  const bool plain = parsed.flags.count("--http") != 0;
  const bool hasCert = parsed.values.count("--cert") != 0;
  const bool hasKey = parsed.values.count("--key") != 0;
  if (plain && (hasCert || hasKey)) {
    throw ToolError::usage("serve: --http cannot be combined with --cert/--key");
  }
  if (!plain) {
    if (!hasCert || !hasKey) {
      throw ToolError::usage("serve: give --cert and --key for HTTPS, or --http");
    }
    serve.options.tls = UpdateServer::Tls{parsed.values.at("--cert"), parsed.values.at("--key")};
  }
  serve.log = parsed.flags.count("--log") != 0;
  return serve;
}

CommandLine::Command parsePublish(const std::vector<std::string>& arguments) {
  const ParsedOptions parsed =
      parseOptions("publish", arguments, {"--root", "--path", "--signature", "--public-key"}, {});
  if (parsed.help) {
    return CommandLine::Help{CommandLine::kPublishUsage};
  }
  if (parsed.positional.size() != 1) {
    throw ToolError::usage("publish: give exactly one jar file");
  }
  CommandLine::Publish publish{parsed.positional.front(), required(parsed, "publish", "--root"),
                               required(parsed, "publish", "--path")};
  if (auto it = parsed.values.find("--signature"); it != parsed.values.end()) {
    publish.signature = it->second;
  }
  if (auto it = parsed.values.find("--public-key"); it != parsed.values.end()) {
    if (!publish.signature) {
      throw ToolError::usage("publish: --public-key checks a signature; give --signature too");
    }
    publish.publicKey = it->second;
  }
  return publish;
}

}  // namespace

CommandLine::Command CommandLine::parse(const std::vector<std::string>& arguments) {
  if (arguments.empty()) {
    throw ToolError::usage(std::string("no command given\n") + kUsage);
  }
  const std::string& command = arguments.front();
  if (isHelp(command)) {
    return Help{kUsage};
  }
  if (command == "serve") {
    return parseServe(arguments);
  }
  if (command == "publish") {
    return parsePublish(arguments);
  }
  throw ToolError::usage("unknown command \"" + command + "\"\n" + kUsage);
}

}  // namespace tolvane::tools
