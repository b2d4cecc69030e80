#pragma once

#include <string>

namespace tolvane::test {

// What the X11 command-line tools cannot do without a window manager; windows by id.
// Asks a window to close, as a window manager's close box does (WM_DELETE_WINDOW).
bool requestClose(const std::string& display, unsigned long window);
// True when `upper` is stacked above `lower`, both top-level windows.
bool isStackedAbove(const std::string& display, unsigned long upper, unsigned long lower);

}  // namespace tolvane::test
