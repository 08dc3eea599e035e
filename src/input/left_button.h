// The Linux click mechanisms behind mouse_event.h, one backend file each: a wlroots virtual
// pointer (left_button_wlr.cpp), GNOME's remote-desktop session (left_button_gnome.cpp), KDE's
// fake input (left_button_kde.cpp), KWin's emulated input through libei (left_button_ei.cpp),
// the remote-desktop portal's, also through libei (left_button_portal.cpp), and XTest
// (left_button_xtest.cpp). mouse_event_linux.cpp chooses one, in that order, when
// the window is shown. Each Open* makes all its set-up then (connection, session,
// authentication) and keeps it for the clicks, so a click tick only sends. The whole set-up
// shares one deadline, kSetUpBound after it began, whatever the bus or the compositor does. UI
// thread only.
//
// Usage: if (LeftButtonRoutine left = OpenVirtualPointer()) { left(true); left(false); }
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/clock.h"

namespace clickburst::input {

// One left-button event at the pointer, with no motion. A press stays buffered; a release
// sends both together, so a process killed between the two never leaves the button down. A
// release with no press buffered goes out alone.
using LeftButtonRoutine = void (*)(bool pressed);

// The most the set-up of the Wayland ways in may take, in all, before the window's first redraw.
inline constexpr std::chrono::milliseconds kSetUpBound{2000};

// The notice's words for a set-up that ran past kSetUpBound waiting for `whom`.
std::string SetUpOverrun(std::string_view whom);

inline constexpr std::uint32_t kLinuxButtonLeft = 0x110;  // BTN_LEFT, linux/input-event-codes.h

// The Open* below return nullptr where their way in is absent. Where the desktop has it but
// refuses this program, they also set `refusal` to why, in words for the user's notice.

// A virtual pointer on the default seat, from the connection of wayland_compositor.h.
LeftButtonRoutine OpenVirtualPointer();

// A started org.gnome.Mutter.RemoteDesktop session on the session bus, where the process that
// owns mutter's name there is `compositor_pid`, this session's compositor (0: unknown, so
// never). `refusal` also says why a bus, a mutter of another desktop or a deadline stopped it.
LeftButtonRoutine OpenRemoteDesktopSession(std::uint32_t compositor_pid, runtime::Instant deadline,
                                           std::string& refusal);

// org_kde_kwin_fake_input from the connection of wayland_compositor.h, asked for with
// `reason` (what the clicks are for, in words KWin may show). KWin gives no answer to the
// request, so the grant cannot be confirmed here.
LeftButtonRoutine OpenFakeInput(std::string_view reason, runtime::Instant deadline,
                                std::string& refusal);

// A libei device on the EIS socket of KWin's org.kde.KWin.EIS.RemoteDesktop, for a KWin that
// refuses fake input to an uninstalled program, where the KWin on the bus is `compositor_pid`,
// this session's compositor; libei.so.1 is bound by name then. Where KWin or the library
// refuses, appends why to `refusal`.
LeftButtonRoutine OpenKWinEmulatedInput(std::uint32_t compositor_pid, runtime::Instant deadline,
                                        std::string& refusal);

// A libei device from the desktop's remote-desktop portal (org.freedesktop.portal.RemoteDesktop),
// whose dialog comes up as the window opens: the device comes when the user allows it, and
// until then nothing is clicked; a refusal then sends the clicks through XTest. nullptr where
// the portal offers no remote desktop with EIS, or `refusal` says why it failed at set-up.
LeftButtonRoutine OpenRemoteDesktopPortal(runtime::Instant deadline, std::string& refusal);

// XTestFakeButtonEvent, bound by name here (a run-time error if it cannot be).
LeftButtonRoutine BindXTestLeftButton();

// Where the X server is Xwayland, sends one XTest relative motion of (0, 0) (the call says
// why); a plain X server gets nothing.
void AskXwaylandForInput();

}  // namespace clickburst::input
