// Linux: the five-argument contract served by whichever mechanism reaches the most windows,
// chosen once, at the first click: a wlroots virtual pointer where the Wayland compositor
// offers one, XTest everywhere else (a plain X server, or Xwayland under a compositor without
// virtual pointers, where XTest reaches X11 windows only unless the compositor forwards it).
#include <cstdio>
#include <cstdlib>

#include "input/left_button.h"
#include "input/mouse_event.h"

namespace clickburst::input {
namespace {

constexpr const char* kXTestOnWaylandNotice =
    "clickburst: this Wayland compositor offers no virtual pointer, so the clicks go through "
    "X11 and reach X11 windows only; on GNOME 45.1+ or KDE Plasma 6 with Xwayland 23.2.2+ they "
    "reach every window once you allow remote interaction in the dialog that may appear now: "
    "answer it before pressing Start\n";

bool InWaylandSession() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  return name != nullptr && *name != '\0';
}

LeftButtonRoutine ChooseLeftButton() {
  if (InWaylandSession()) {
    if (LeftButtonRoutine virtual_pointer = OpenVirtualPointer()) {
      return virtual_pointer;
    }
  }
  return BindXTestLeftButton();
}

}  // namespace

void WindowShown() {
  AskXwaylandForInput();
  if (InWaylandSession() && !CompositorOffersVirtualPointer()) {
    std::fputs(kXTestOnWaylandNotice, stderr);
    std::fflush(stderr);
  }
}

void SendMouseEvent(std::uint32_t flags, std::uint32_t /*dx*/, std::uint32_t /*dy*/,
                    std::uint32_t /*data*/, std::uintptr_t /*extra_info*/) {
  static const LeftButtonRoutine left_button = ChooseLeftButton();
  if ((flags & kMouseEventLeftDown) != 0) {
    left_button(true);
  }
  if ((flags & kMouseEventLeftUp) != 0) {
    left_button(false);
  }
}

}  // namespace clickburst::input
