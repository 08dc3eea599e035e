// The platform's five-argument mouse-input routine, in the shape of user32's mouse_event:
// dwFlags, dx, dy, dwData, dwExtraInfo, all by value, no result. mouse_event_win32.cpp binds
// user32's by name on the first call; mouse_event_linux.cpp serves it with the click mechanism
// of the session (left_button.h).
// Only the two left-button flags are ever passed, with the other four arguments 0: no motion,
// so every event happens at the pointer's current position.
#pragma once

#include <cstdint>
#include <string_view>

namespace clickburst::input {

inline constexpr std::uint32_t kMouseEventLeftDown = 0x0002;  // MOUSEEVENTF_LEFTDOWN
inline constexpr std::uint32_t kMouseEventLeftUp = 0x0004;    // MOUSEEVENTF_LEFTUP

// Called once, right after the program's window is shown, before Start can be pressed: the
// moment for anything the user may have to answer before the first click. `what_clicks` says
// what the clicks will be, for a desktop that shows the user why input is asked for.
void WindowShown(std::string_view what_clicks);

void SendMouseEvent(std::uint32_t flags, std::uint32_t dx, std::uint32_t dy, std::uint32_t data,
                    std::uintptr_t extra_info);

}  // namespace clickburst::input
