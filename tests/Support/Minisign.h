#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tolvane::test {

// A minisign key pair that Debian's minisign makes in `folder` (without a password), and
// the signatures it makes with it, so the program is checked against the tool operators use.
class MinisignKey {
 public:
  enum class Form { prehashed, legacy };

  MinisignKey(const std::filesystem::path& folder, const std::string& name);

  // The key line ("RW...") of the .pub file, as a build configures it.
  [[nodiscard]] const std::string& publicKey() const { return publicKey_; }
  [[nodiscard]] const std::filesystem::path& publicKeyFile() const { return publicKeyFile_; }
  // The id minisign printed in the .pub file's comment.
  [[nodiscard]] const std::string& keyId() const { return keyId_; }

  // `minisign -S` of `file` into `signature` (default: the file's name + ".minisig"), with
  // minisign's own trusted comment unless one is given. Returns the signature's path.
  std::filesystem::path sign(const std::filesystem::path& file, Form form = Form::prehashed,
                             const std::optional<std::string>& trustedComment = std::nullopt,
                             std::filesystem::path signature = {}) const;

 private:
  std::filesystem::path folder_;
  std::filesystem::path publicKeyFile_;
  std::filesystem::path secretKeyFile_;
  std::string publicKey_;
  std::string keyId_;
};

}  // namespace tolvane::test
