#include "Support/Minisign.h"

#include <chrono>
#include <stdexcept>
#include <vector>

#include "Support/ChildProgram.h"
#include "Support/TemporaryHome.h"

namespace tolvane::test {
namespace {

namespace fs = std::filesystem;

void runMinisign(const fs::path& folder, const std::vector<std::string>& arguments) {
  ChildProgram minisign("/usr/bin/minisign", arguments, folder, "minisign");
  const auto status = minisign.waitForExit(std::chrono::seconds(30));
  if (status != 0) {
    throw std::runtime_error("minisign failed: " + minisign.standardError() +
                             minisign.standardOutput());
  }
}

}  // namespace

MinisignKey::MinisignKey(const fs::path& folder, const std::string& name)
    : folder_(folder),
      publicKeyFile_(folder / (name + ".pub")),
      secretKeyFile_(folder / (name + ".key")) {
  runMinisign(folder_, {"-G", "-W", "-p", publicKeyFile_.string(), "-s", secretKeyFile_.string()});
  // "untrusted comment: minisign public key <ID>\n<key line>\n"
  const std::string text = readFile(publicKeyFile_);
  const auto newline = text.find('\n');
  const std::string comment = text.substr(0, newline);
  keyId_ = comment.substr(comment.rfind(' ') + 1);
  publicKey_ = text.substr(newline + 1, text.find('\n', newline + 1) - newline - 1);
}

fs::path MinisignKey::sign(const fs::path& file, Form form,
                           const std::optional<std::string>& trustedComment,
                           fs::path signature) const {
  if (signature.empty()) signature = file.string() + ".minisig";
  std::vector<std::string> arguments = {"-S",          "-s", secretKeyFile_.string(), "-m",
                                        file.string(), "-x", signature.string()};
  if (form == Form::legacy) arguments.push_back("-l");
  if (trustedComment) {
    arguments.push_back("-t");
    arguments.push_back(*trustedComment);
  }
  runMinisign(folder_, arguments);
  return signature;
}

}  // namespace tolvane::test
