// Module1: one left-button click at the pointer, as a press and an immediate release through
// the platform's mouse-input routine (mouse_event.h). Holds no state; called only from the
// click tick, on the user-interface thread. Reports no failure: a routine that cannot be
// bound is a run-time error at the first click.
//
// Usage: Module1::ClickLeftButton();
#pragma once

#include <cstdint>

namespace clickburst::Module1 {

void ClickLeftButton();    // PressLeftButton(), then ReleaseLeftButton()
void PressLeftButton();    // one call with MOUSEEVENTF_LEFTDOWN
void ReleaseLeftButton();  // one call with MOUSEEVENTF_LEFTUP

namespace testing {
// Sends the module's calls to `routine` instead of the platform; nullptr restores it.
using MouseEventRoutine = void (*)(std::uint32_t flags, std::uint32_t dx, std::uint32_t dy,
                                   std::uint32_t data, std::uintptr_t extra_info);
void RouteMouseEvents(MouseEventRoutine routine);
}  // namespace testing

}  // namespace clickburst::Module1
