// Linux: the five-argument contract served by whichever mechanism reaches the most windows,
// chosen once, when the window is shown: in a Wayland session a wlroots virtual pointer, then
// GNOME's remote-desktop session, then KDE's fake input, then KWin's emulated input (libei),
// then the desktop's remote-desktop portal (libei too);
// XTest everywhere else (a plain X server reaches every window with it; under a Wayland
// compositor without any of those ways in, XTest through Xwayland reaches X11 windows only,
// unless the compositor forwards it). The set-up of all of them together ends within
// kSetUpBound.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "input/left_button.h"
#include "input/mouse_event.h"
#include "input/wayland_compositor.h"
#include "runtime/clock.h"
#include "runtime/end_program.h"

namespace clickburst::input {
namespace {

// Where a Wayland session falls back to XTest: why, then what that means for the user.
constexpr const char* kNoWayInReason =
    "this Wayland compositor offers no virtual pointer, no GNOME remote-desktop session, no KDE "
    "fake input and no remote-desktop portal with emulated input";
constexpr const char* kXTestOnWaylandConsequence =
    ", so the clicks go through X11 and reach X11 windows only; where Xwayland forwards XTest "
    "(built with libei, under a desktop portal) they reach every window once you allow remote "
    "interaction in the dialog that may appear now: answer it before pressing Start\n";

LeftButtonRoutine g_left_button = nullptr;

bool InWaylandSession() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  return name != nullptr && *name != '\0';
}

// Each way in that could not be had says why, and the notice gives the reason that tells the
// user most: no compositor, then KWin's refusal, then the portal's, then the bus's or GNOME's.
LeftButtonRoutine OpenWaylandWayIn(std::string_view what_clicks, std::string& reason) {
  const runtime::Instant deadline = runtime::MonotonicClock::now() + kSetUpBound;
  std::string no_compositor;
  std::string gnome;
  std::string kde;
  std::string portal;
  const bool connected = ConnectToCompositor(deadline, no_compositor);
  if (connected) {
    if (LeftButtonRoutine virtual_pointer = OpenVirtualPointer()) {
      return virtual_pointer;
    }
    // Without the compositor's connection nothing tells whether the bus's mutter is this
    // session's, so GNOME's way in is tried only with it.
    if (LeftButtonRoutine remote_desktop =
            OpenRemoteDesktopSession(CompositorProcessId(), deadline, gnome)) {
      DisconnectFromCompositor();  // the session's clicks go over the bus
      return remote_desktop;
    }
    if (LeftButtonRoutine fake_input = OpenFakeInput(what_clicks, deadline, kde)) {
      return fake_input;
    }
  }
  const std::uint32_t compositor = CompositorProcessId();
  DisconnectFromCompositor();  // the ways in below click over sockets of their own
  const std::size_t kde_before = kde.size();
  if (LeftButtonRoutine emulated_input = OpenKWinEmulatedInput(compositor, deadline, kde)) {
    return emulated_input;
  }
  // The portal's sessions go through the desktop on the bus: where that desktop refused its
  // own way in (or its libei cannot load), or belongs to another login, the portal's would
  // too; and where no compositor answered, nothing ties the bus's portal to this session.
  const bool desktop_refused = !gnome.empty() || kde.size() != kde_before;
  if (LeftButtonRoutine portal_input =
          connected && !desktop_refused ? OpenRemoteDesktopPortal(deadline, portal) : nullptr) {
    return portal_input;
  }
  reason = !no_compositor.empty() ? no_compositor
           : !kde.empty()         ? kde
           : !portal.empty()      ? portal
           : !gnome.empty()       ? gnome
                                  : kNoWayInReason;
  return nullptr;
}

}  // namespace

std::string SetUpOverrun(std::string_view whom) {
  return std::string(whom) + " did not answer within the " + std::to_string(kSetUpBound.count()) +
         " ms clickburst gives its set-up";
}

void WindowShown(std::string_view what_clicks) {
  if (!InWaylandSession()) {
    return;  // XTest reaches every window of an X11 session; it is bound at the first click
  }
  std::string reason;
  g_left_button = OpenWaylandWayIn(what_clicks, reason);
  if (g_left_button == nullptr) {
    AskXwaylandForInput();
    std::fprintf(stderr, "clickburst: %s%s", reason.c_str(), kXTestOnWaylandConsequence);
    std::fflush(stderr);
  }
}

void SendMouseEvent(std::uint32_t flags, std::uint32_t /*dx*/, std::uint32_t /*dy*/,
                    std::uint32_t /*data*/, std::uintptr_t /*extra_info*/) {
  if (runtime::ClickInputEnded()) {
    return;
  }
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
