// Linux: the five-argument contract served by the way in that reaches the most windows, chosen
// once, when the window is shown, from the table below (ways_in.h). In a Wayland session the
// first of its rows that clicks is kept; where none does, XTest clicks through Xwayland and the
// user is told why. A plain X server reaches every window with XTest. The press waits here for
// its release: both go out together, whatever the way in.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

#include "input/linux/shared/notice.h"
#include "input/linux/shared/session_bus.h"
#include "input/linux/shared/wayland_compositor.h"
#include "input/linux/ways_in.h"
#include "input/mouse_event.h"
#include "runtime/clock.h"
#include "runtime/end_program.h"
#include "runtime/input_watch.h"

namespace clickburst::input {
namespace {

// The ways in, in the order they are asked. A refusal of a row that speaks for the desktop
// keeps the portal from being asked, as its sessions go through that same desktop; the notice
// names the refusal of the lowest rank (KWin's, then the portal's, then GNOME's or the bus's).
//  name                   open                     compositor asks_desktop speaks  rank
constexpr WayInRow kWaysIn[] = {
    {"virtual pointer", &OpenVirtualPointer, true, false, false, 0},
    {"GNOME remote desktop", &OpenGnomeRemoteDesktop, true, false, true, 3},
    {"KDE fake input", &OpenKdeFakeInput, true, false, false, 1},
    {"KWin emulated input", &OpenKWinEmulatedInput, false, false, true, 1},
    {"remote-desktop portal", &OpenRemoteDesktopPortal, true, true, false, 2},
};

// Where a Wayland session falls back to XTest: why, where nobody refused, and what it means.
constexpr std::string_view kNoWayInReason =
    "this Wayland compositor offers no virtual pointer, no GNOME remote-desktop session, no KDE "
    "fake input and no remote-desktop portal with emulated input";
constexpr std::string_view kXTestOnWaylandConsequence =
    ", so the clicks go through X11 and reach X11 windows only; where Xwayland forwards XTest "
    "(built with libei) they reach every window once you allow it in the dialog that may appear "
    "now (GNOME and the portal's desktops: remote interaction; KWin 6.7 and later: \"Remote "
    "Control\", \"clickburst is asking to control input devices\", Allow): answer it before "
    "pressing Start";

SessionBus g_bus;
WayIn g_chosen;
ClickRoutine g_click = nullptr;
bool g_press_pending = false;  // a press not sent yet: it goes out with its release

void EndChosenInput() {
  if (g_chosen.watch_fd >= 0) {
    runtime::UnwatchReadable(g_chosen.watch_fd);
  }
  if (g_chosen.end != nullptr) {
    g_chosen.end();
  }
}

bool InWaylandSession() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  return name != nullptr && *name != '\0';
}

}  // namespace

void WindowShown(std::string_view what_clicks) {
  if (!InWaylandSession()) {
    return;  // XTest reaches every window of an X11 session; it is bound at the first click
  }
  SetUp set_up{runtime::MonotonicClock::now() + kSetUpBound, false, 0, &g_bus, what_clicks};
  std::string no_compositor;
  set_up.connected = ConnectToCompositor(set_up.deadline, no_compositor);
  set_up.compositor_pid = CompositorProcessId();
  Choice choice = ChooseWayIn(kWaysIn, set_up, no_compositor, kNoWayInReason);
  g_chosen = std::move(choice.chosen);
  if (!g_chosen.keeps_compositor) {
    DisconnectFromCompositor();
  }
  if (g_chosen.click == nullptr) {
    AskXwaylandForInput();
    Notice(choice.reason + std::string(kXTestOnWaylandConsequence), &g_bus);
  }
  if (!g_chosen.keeps_bus) {
    g_bus.Close();
  }
  g_click = g_chosen.click;
  runtime::SetClickInputEnd(&EndChosenInput);
  if (g_chosen.watch_fd >= 0) {
    runtime::WatchReadable(g_chosen.watch_fd, g_chosen.on_readable);
    g_chosen.on_readable();  // what came in during set-up is read now
  }
}

void SendMouseEvent(std::uint32_t flags, std::uint32_t /*dx*/, std::uint32_t /*dy*/,
                    std::uint32_t /*data*/, std::uintptr_t /*extra_info*/) {
  if (runtime::ClickInputEnded()) {
    return;
  }
  if ((flags & kMouseEventLeftDown) != 0) {
    g_press_pending = true;
  }
  if ((flags & kMouseEventLeftUp) != 0) {
    if (g_click == nullptr) {
      g_click = BindXTestClick();
    }
    g_click(std::exchange(g_press_pending, false));
  }
}

}  // namespace clickburst::input
