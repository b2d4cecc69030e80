#include "Support/TemporaryHome.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tolvane::test {

namespace fs = std::filesystem;

TemporaryHome::TemporaryHome(const std::string& homeName) : homeName_(homeName) {
  fs::create_directories(home());
  fs::create_directories(configHome());
  fs::create_directories(resources());
  setEnvironment("HOME", home().string());
  setEnvironment("XDG_CONFIG_HOME", configHome().string());
  setEnvironment("TOLVANE_RESOURCES", resources().string());
}

TemporaryHome::~TemporaryHome() {
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
    if (it->second) {
      ::setenv(it->first.c_str(), it->second->c_str(), 1);
    } else {
      ::unsetenv(it->first.c_str());
    }
  }
}

void TemporaryHome::setEnvironment(const std::string& name,
                                   const std::optional<std::string>& value) {
  const char* old = std::getenv(name.c_str());
  saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
  if (value) {
    ::setenv(name.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name.c_str());
  }
}

void writeFile(const fs::path& path, const std::string& bytes, fs::perms permissions) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream stream(path, std::ios::binary | std::ios::trunc);
  stream << bytes;
  if (!stream.flush()) throw std::runtime_error("cannot write " + path.string());
  fs::permissions(path, permissions);
}

std::string readFile(const fs::path& path) {
  std::ifstream stream(path, std::ios::binary);
  if (!stream) throw std::runtime_error("cannot read " + path.string());
  return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

}  // namespace tolvane::test
