// The Linux click mechanisms behind mouse_event.h, one backend file each: XTest
// (left_button_xtest.cpp) and a wlroots virtual pointer (left_button_wlr.cpp). Which one clicks
// is chosen once, at the first click, in mouse_event_linux.cpp. UI thread only.
//
// Usage: LeftButtonRoutine left = OpenVirtualPointer(); left(true); left(false);
#pragma once

namespace clickburst::input {

// One left-button event at the pointer, with no motion. A press stays buffered; a release
// sends both in one flush, so a process killed between the two never leaves the button down.
using LeftButtonRoutine = void (*)(bool pressed);

// XTestFakeButtonEvent, bound by name here (a run-time error if it cannot be).
LeftButtonRoutine BindXTestLeftButton();

// Where the X server is Xwayland, sends one XTest relative motion of (0, 0) (the call says
// why); a plain X server gets nothing.
void AskXwaylandForInput();

// A virtual pointer on the default seat of the compositor WAYLAND_DISPLAY names, through a
// connection of its own; nullptr where there is no compositor or it offers no virtual pointer.
LeftButtonRoutine OpenVirtualPointer();

// Whether the compositor offers virtual pointers; asks it without keeping anything.
bool CompositorOffersVirtualPointer();

}  // namespace clickburst::input
