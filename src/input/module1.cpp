#include "input/module1.h"

#include "input/mouse_event.h"

namespace clickburst::Module1 {
namespace {

testing::MouseEventRoutine g_mouse_event = &input::SendMouseEvent;

}  // namespace

// Back to back, nothing between or after: a click must never be split by a wait.
void ClickLeftButton() {
  PressLeftButton();
  ReleaseLeftButton();
}

void PressLeftButton() { g_mouse_event(input::kMouseEventLeftDown, 0, 0, 0, 0); }

void ReleaseLeftButton() { g_mouse_event(input::kMouseEventLeftUp, 0, 0, 0, 0); }

void testing::RouteMouseEvents(MouseEventRoutine routine) {
  g_mouse_event = routine != nullptr ? routine : &input::SendMouseEvent;
}

}  // namespace clickburst::Module1
