// Linux: the five-argument contract served by whichever mechanism reaches the most windows,
// chosen once, when the window is shown: in a Wayland session a wlroots virtual pointer, then
// GNOME's remote-desktop session, then KDE's fake input; XTest everywhere else (a plain X
// server reaches every window with it; under a Wayland compositor without any of those ways
// in, XTest through Xwayland reaches X11 windows only, unless the compositor forwards it).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "input/left_button.h"
#include "input/mouse_event.h"
#include "input/wayland_compositor.h"

namespace clickburst::input {
namespace {

// Where a Wayland session falls back to XTest: why, then what that means for the user.
constexpr const char* kNoWayInReason =
    "this Wayland compositor offers no virtual pointer, no GNOME remote-desktop session and no "
    "KDE fake input";
constexpr const char* kXTestOnWaylandConsequence =
    ", so the clicks go through X11 and reach X11 windows only; where Xwayland forwards XTest "
    "(built with libei, under a desktop portal) they reach every window once you allow remote "
    "interaction in the dialog that may appear now: answer it before pressing Start\n";

LeftButtonRoutine g_left_button = nullptr;

bool InWaylandSession() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  return name != nullptr && *name != '\0';
}

LeftButtonRoutine OpenWaylandWayIn(std::string& refusal) {
  const bool connected = ConnectToCompositor();
  if (connected) {
    if (LeftButtonRoutine virtual_pointer = OpenVirtualPointer()) {
      return virtual_pointer;
    }
  }
  if (LeftButtonRoutine remote_desktop = OpenRemoteDesktopSession(refusal)) {
    DisconnectFromCompositor();  // the session's clicks go over the bus
    return remote_desktop;
  }
  if (connected) {
    if (LeftButtonRoutine fake_input = OpenFakeInput(refusal)) {
      return fake_input;
    }
  }
  DisconnectFromCompositor();
  return nullptr;
}

}  // namespace

void WindowShown() {
  if (!InWaylandSession()) {
    return;  // XTest reaches every window of an X11 session; it is bound at the first click
  }
  std::string refusal;
  g_left_button = OpenWaylandWayIn(refusal);
  if (g_left_button == nullptr) {
    AskXwaylandForInput();
    std::fprintf(stderr, "clickburst: %s%s", refusal.empty() ? kNoWayInReason : refusal.c_str(),
                 kXTestOnWaylandConsequence);
    std::fflush(stderr);
  }
}

void SendMouseEvent(std::uint32_t flags, std::uint32_t /*dx*/, std::uint32_t /*dy*/,
                    std::uint32_t /*data*/, std::uintptr_t /*extra_info*/) {
  if (g_left_button == nullptr) {
    g_left_button = BindXTestLeftButton();
  }
  if ((flags & kMouseEventLeftDown) != 0) {
    g_left_button(true);
  }
  if ((flags & kMouseEventLeftUp) != 0) {
    g_left_button(false);
  }
}

}  // namespace clickburst::input
