#include "UpdateServer/ReleaseFolder.h"

#include <utf8proc.h>

#include <algorithm>
#include <system_error>

namespace tolvane::tools {

namespace fs = std::filesystem;

namespace {

bool isValidUtf8(std::string_view text) {
  auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  auto remaining = static_cast<utf8proc_ssize_t>(text.size());
  while (remaining > 0) {
    utf8proc_int32_t codePoint = 0;
    const utf8proc_ssize_t used = utf8proc_iterate(bytes, remaining, &codePoint);
    if (used <= 0 || codePoint < 0) {
      return false;
    }
    bytes += used;
    remaining -= used;
  }
  return true;
}

template <typename Visit>
void forEachComponent(std::string_view path, Visit visit) {
  std::size_t start = 0;
  while (true) {
    const auto slash = path.find('/', start);
    visit(path.substr(start,
                      slash == std::string_view::npos ? std::string_view::npos : slash - start));
    if (slash == std::string_view::npos) {
      return;
    }
    start = slash + 1;
  }
}

}  // namespace

ReleaseFolder::ReleaseFolder(fs::path root) : root_(std::move(root)) {}

bool ReleaseFolder::contains(const fs::path& canonicalPath) const {
  std::error_code error;
  const fs::path canonicalRoot = fs::canonical(root_, error);
  if (error) {
    return false;
  }
  // Component-wise, so that "/srv/release-old" is not taken to be inside "/srv/release".
  auto rootIt = canonicalRoot.begin();
  auto pathIt = canonicalPath.begin();
  for (; rootIt != canonicalRoot.end(); ++rootIt, ++pathIt) {
    if (pathIt == canonicalPath.end() || *pathIt != *rootIt) {
      return false;
    }
  }
  return true;
}

ReleaseFolder::Lookup ReleaseFolder::lookup(std::string_view requestPath) const {
  const auto refused = [] { return Lookup{Outcome::refused, {}}; };
  const auto missing = [] { return Lookup{Outcome::missing, {}}; };
  if (requestPath.empty() || requestPath.front() != '/' ||
      requestPath.find('\0') != std::string_view::npos) {
    return refused();
  }
  const std::string_view relative = requestPath.substr(1);
  if (relative.empty()) {
    return missing();
  }
  if (relative.front() == '/') {
    return refused();
  }
  bool escapes = false;
  bool hidden = false;
  forEachComponent(relative, [&](std::string_view component) {
    escapes |= component == "..";
    hidden |= component.starts_with('.');
  });
  if (escapes) {
    return refused();
  }
  // Nothing a release holds starts with a dot, but a killed publish's half-written copy
  // does, and so do an operator's ".git" or ".htaccess".
  if (hidden) {
    return missing();
  }

  std::error_code error;
  const fs::path file = fs::canonical(root_ / fs::path(relative), error);
  if (error) {
    return missing();
  }
  if (!contains(file)) {
    return refused();
  }
  if (!fs::is_regular_file(file, error)) {
    return missing();
  }
  return {Outcome::found, file};
}

std::optional<std::string> ReleaseFolder::refusalForPublishPath(std::string_view path) {
  if (path.empty()) {
    return "the path is empty";
  }
  if (!isValidUtf8(path)) {
    return "the path is not valid UTF-8";
  }
  if (path.front() == '/') {
    return "the path is absolute; give it relative to the release folder";
  }
  const auto badCharacter = std::find_if(path.begin(), path.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f || c == '%' || c == '?' || c == '#' || c == '\\';
  });
  if (badCharacter != path.end()) {
    return "the path contains a character that does not survive in a URL "
           "(control characters, '%', '?', '#' and '\\' are refused)";
  }
  std::optional<std::string> refusal;
  forEachComponent(path, [&](std::string_view component) {
    if (refusal) {
      return;
    }
    if (component == "..") {
      refusal = "the path leaves the release folder (it has a \"..\" component)";
    } else if (component.empty() || component == ".") {
      refusal = "the path has an empty or \".\" component; name the file plainly";
    } else if (component.front() == '.') {
      refusal = "the path has a component starting with \".\"; such files are not served";
    }
  });
  if (refusal) {
    return refusal;
  }
  if (path == kManifestName) {
    return "the path would replace the release's manifest \"loaderv3.php\"";
  }
  return std::nullopt;
}

}  // namespace tolvane::tools
