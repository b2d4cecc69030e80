#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::platform {

// Opens web pages in the user's browser, the way programs on a Linux desktop do: xdg-open,
// then each command in $BROWSER, then `gio open`, sensible-browser and x-www-browser. The
// first of them that can be started is started, directly (never through a shell) and
// detached, so it outlives us and its answer is never awaited: whether the browser then
// shows the page is its business. Stateless; any thread.
class Workspace {
 public:
  // One way of opening a page: a program (a name looked up in PATH, or a path) and its
  // arguments, the page's address among them.
  struct Opener {
    std::string program;
    std::vector<std::string> arguments;
    friend bool operator==(const Opener&, const Opener&) = default;
  };

  // The openers for `url`, in the order they are tried. $BROWSER is a colon-separated list
  // of commands, each split into words at blanks (no quoting, as xdg-open reads it); "%s"
  // in a command stands for the address and "%%" for a "%"; a command without "%s" gets
  // the address as its last argument.
  [[nodiscard]] static std::vector<Opener> openers(const std::string& url);

  // Starts the first opener that can be started. False when none could (none installed).
  static bool open(const std::string& url);

  // Where the program `name` is: itself when it contains a "/", else the first executable
  // regular file of that name in the folders of PATH ("/usr/bin:/bin" when PATH is unset).
  [[nodiscard]] static std::optional<std::filesystem::path> findProgram(const std::string& name);
};

}  // namespace tolvane::platform
