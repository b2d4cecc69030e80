#include "X11Windows.h"

#include <X11/Xlib.h>

#include <memory>

namespace tolvane::test {
namespace {

struct DisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayConnection = std::unique_ptr<Display, DisplayCloser>;

}  // namespace

bool requestClose(const std::string& name, unsigned long window) {
  const DisplayConnection display(XOpenDisplay(name.c_str()));
  if (!display) return false;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display.get(), "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] =
      static_cast<long>(XInternAtom(display.get(), "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  const bool sent = XSendEvent(display.get(), window, False, NoEventMask, &event) != 0;
  XSync(display.get(), False);
  return sent;
}

bool isStackedAbove(const std::string& name, unsigned long upper, unsigned long lower) {
  const DisplayConnection display(XOpenDisplay(name.c_str()));
  if (!display) return false;
  Window root = 0;
  Window parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (XQueryTree(display.get(), DefaultRootWindow(display.get()), &root, &parent, &children,
                 &count) == 0) {
    return false;
  }
  // Bottom-most first.
  int upperAt = -1;
  int lowerAt = -1;
  for (unsigned int i = 0; i < count; ++i) {
    if (children[i] == upper) upperAt = static_cast<int>(i);
    if (children[i] == lower) lowerAt = static_cast<int>(i);
  }
  if (children != nullptr) XFree(children);
  return upperAt >= 0 && lowerAt >= 0 && upperAt > lowerAt;
}

}  // namespace tolvane::test
