// The Linux ways in, one file each, all of one shape (way_in.h). mouse_event_linux.cpp holds
// their table; a new way in is a file here and a row there.
// - virtual_pointer.cpp: a wlroots virtual pointer (sway, labwc, Hyprland, river, Wayfire, niri)
// - gnome_remote_desktop.cpp: GNOME's remote-desktop session (mutter 43+)
// - kde_fake_input.cpp: KDE's fake input, for an installed program (KWin 5.27+)
// - kwin_emulated_input.cpp: KWin's emulated input through libei (KWin 6.1+)
// - remote_desktop_portal.cpp: the desktop's remote-desktop portal, through libei
// - xtest.cpp: XTest, on X11 and, through Xwayland, wherever no other way in answers
// Each Open makes all its set-up (connection, session, authentication) by the set-up's
// deadline and keeps it for the clicks, so a click tick only sends. UI thread only.
#pragma once

#include "input/way_in.h"

namespace clickburst::input {

WayIn OpenVirtualPointer(const SetUp& set_up);
WayIn OpenGnomeRemoteDesktop(const SetUp& set_up);
WayIn OpenKdeFakeInput(const SetUp& set_up);
WayIn OpenKWinEmulatedInput(const SetUp& set_up);
WayIn OpenRemoteDesktopPortal(const SetUp& set_up);

// XTestFakeButtonEvent, bound by name here (a run-time error if it cannot be).
ClickRoutine BindXTestClick();

// Where the X server is Xwayland, sends one XTest relative motion of (0, 0) (the call says
// why); a plain X server gets nothing.
void AskXwaylandForInput();

}  // namespace clickburst::input
