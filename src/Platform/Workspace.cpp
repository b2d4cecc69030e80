#include "Platform/Workspace.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "Platform/Process.h"
#include "Platform/SystemError.h"

namespace tolvane::platform {
namespace {

std::vector<std::string_view> split(std::string_view text, std::string_view separators) {
  std::vector<std::string_view> parts;
  while (!text.empty()) {
    const auto end = text.find_first_of(separators);
    if (end != 0) parts.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return parts;
}

// One $BROWSER command for `url`, or nothing for an empty one.
std::optional<Workspace::Opener> browserCommand(std::string_view command, const std::string& url) {
  bool placed = false;
  std::vector<std::string> words;
  for (const std::string_view word : split(command, " \t")) {
    std::string expanded;
    for (std::size_t i = 0; i < word.size(); ++i) {
      if (word[i] == '%' && i + 1 < word.size() && (word[i + 1] == 's' || word[i + 1] == '%')) {
        placed = placed || word[i + 1] == 's';
        expanded += word[i + 1] == 's' ? url : "%";
        ++i;
      } else {
        expanded += word[i];
      }
    }
    words.push_back(std::move(expanded));
  }
  if (words.empty()) return std::nullopt;
  if (!placed) words.push_back(url);
  Workspace::Opener opener{words.front(), {}};
  opener.arguments.assign(words.begin() + 1, words.end());
  return opener;
}

bool isExecutableFile(const std::filesystem::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::vector<Workspace::Opener> Workspace::openers(const std::string& url) {
  std::vector<Opener> list{{"xdg-open", {url}}};
  if (const char* browser = std::getenv("BROWSER")) {
    for (const std::string_view command : split(browser, ":")) {
      if (auto opener = browserCommand(command, url)) list.push_back(std::move(*opener));
    }
  }
  list.push_back({"gio", {"open", url}});
  list.push_back({"sensible-browser", {url}});
  list.push_back({"x-www-browser", {url}});
  return list;
}

std::optional<std::filesystem::path> Workspace::findProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return std::filesystem::path(name);
  const char* path = std::getenv("PATH");
  // An empty entry would mean the current folder, which is nobody's choice of browser.
  for (const std::string_view folder : split(path != nullptr ? path : "/usr/bin:/bin", ":")) {
    const auto candidate = std::filesystem::path(folder) / name;
    if (isExecutableFile(candidate)) return candidate;
  }
  return std::nullopt;
}

bool Workspace::open(const std::string& url) {
  for (const Opener& opener : openers(url)) {
    const auto program = findProgram(opener.program);
    if (!program) continue;
    try {
      Process::launchDetached(*program, opener.arguments);
      return true;
    } catch (const SystemError&) {
      // Not startable after all (a broken script, a file that is not a program): the next.
    }
  }
  return false;
}

}  // namespace tolvane::platform
