#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Support/TemporaryDirectory.h"

namespace tolvane::test {

// Points HOME, XDG_CONFIG_HOME and TOLVANE_RESOURCES at fresh folders under one temporary
// root for the object's lifetime; the old values come back on destruction.
class TemporaryHome {
 public:
  explicit TemporaryHome(const std::string& homeName = "home");
  ~TemporaryHome();
  TemporaryHome(const TemporaryHome&) = delete;
  TemporaryHome& operator=(const TemporaryHome&) = delete;

  [[nodiscard]] const std::filesystem::path& root() const { return root_.path(); }
  [[nodiscard]] std::filesystem::path home() const { return root() / homeName_; }
  [[nodiscard]] std::filesystem::path configHome() const { return root() / "config"; }
  [[nodiscard]] std::filesystem::path resources() const { return root() / "resources"; }

  // Sets, or with nothing unsets, a variable until destruction.
  void setEnvironment(const std::string& name, const std::optional<std::string>& value);

 private:
  TemporaryDirectory root_;
  std::string homeName_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Writes bytes with the given permission bits, creating parent folders.
void writeFile(const std::filesystem::path& path, const std::string& bytes,
               std::filesystem::perms permissions = std::filesystem::perms(0644));
[[nodiscard]] std::string readFile(const std::filesystem::path& path);

}  // namespace tolvane::test
