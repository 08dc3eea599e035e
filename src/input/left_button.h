// The Linux click mechanisms behind mouse_event.h, one backend file each: a wlroots virtual
// pointer (left_button_wlr.cpp), GNOME's remote-desktop session (left_button_gnome.cpp), KDE's
// fake input (left_button_kde.cpp) and XTest (left_button_xtest.cpp). mouse_event_linux.cpp
// chooses one, in that order, when the window is shown. Each Open* makes all its set-up then
// (connection, session, authentication) and keeps it for the clicks, so a click tick only
// sends. UI thread only.
//
// Usage: if (LeftButtonRoutine left = OpenVirtualPointer()) { left(true); left(false); }
#pragma once

#include <cstdint>
#include <string>

namespace clickburst::input {

// One left-button event at the pointer, with no motion. A press stays buffered; a release
// sends both together, so a process killed between the two never leaves the button down.
using LeftButtonRoutine = void (*)(bool pressed);

inline constexpr std::uint32_t kLinuxButtonLeft = 0x110;  // BTN_LEFT, linux/input-event-codes.h

// The Open* below return nullptr where their way in is absent. Where the desktop has it but
// refuses this program, they also set `refusal` to why, in words for the user's notice.

// A virtual pointer on the default seat, from the connection of wayland_compositor.h.
LeftButtonRoutine OpenVirtualPointer();

// A started org.gnome.Mutter.RemoteDesktop session on the session bus.
LeftButtonRoutine OpenRemoteDesktopSession(std::string& refusal);

// org_kde_kwin_fake_input, authenticated, from the connection of wayland_compositor.h.
LeftButtonRoutine OpenFakeInput(std::string& refusal);

// XTestFakeButtonEvent, bound by name here (a run-time error if it cannot be).
LeftButtonRoutine BindXTestLeftButton();

// Where the X server is Xwayland, sends one XTest relative motion of (0, 0) (the call says
// why); a plain X server gets nothing.
void AskXwaylandForInput();

}  // namespace clickburst::input
