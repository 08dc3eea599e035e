// XTest: XTestFakeButtonEvent, bound by name from libXtst.so.6 on the first click. Button 1 is
// the left button. A click's press and release go to the server in one flush. The pointer is
// not read or moved.
#include <X11/Xlib.h>

#include <string>

#include "input/linux/ways_in.h"
#include "runtime/fatal_error.h"
#include "runtime/late_binding.h"
#include "runtime/x11_display.h"

namespace clickburst::input {
namespace {

constexpr unsigned kLeftButton = 1;

using FakeButtonEventSignature = int(Display*, unsigned button, Bool is_press,
                                     unsigned long delay_ms);
using FakeRelativeMotionSignature = int(Display*, int dx, int dy, unsigned long delay_ms);

Display* RequireDisplay() {
  Display* display = runtime::OpenedX11Display();
  if (display == nullptr) {
    runtime::RaiseRunTimeError("XTestFakeButtonEvent needs an open X display, and none is open");
  }
  return display;
}

bool HasExtension(Display* display, const char* name) {
  int opcode = 0;
  int first_event = 0;
  int first_error = 0;
  return XQueryExtension(display, name, &opcode, &first_event, &first_error) != 0;
}

void RequireXTestExtension() {
  Display* display = RequireDisplay();
  if (!HasExtension(display, "XTEST")) {
    runtime::RaiseRunTimeError(std::string("the X server of display \"") + DisplayString(display) +
                               "\" has no XTEST extension, which XTestFakeButtonEvent needs");
  }
}

runtime::DeclaredRoutine<FakeButtonEventSignature> g_fake_button_event{
    "libXtst.so.6", "XTestFakeButtonEvent", &RequireXTestExtension};
runtime::DeclaredRoutine<FakeRelativeMotionSignature> g_fake_relative_motion{
    "libXtst.so.6", "XTestFakeRelativeMotionEvent"};

void XTestClick(bool with_press) {
  Display* display = RequireDisplay();
  if (with_press) {
    g_fake_button_event(display, kLeftButton, True, CurrentTime);
  }
  g_fake_button_event(display, kLeftButton, False, CurrentTime);
  XFlush(display);
}

}  // namespace

ClickRoutine BindXTestClick() {
  g_fake_button_event.Get();
  return &XTestClick;
}

void AskXwaylandForInput() {
  Display* display = runtime::OpenedX11Display();
  if (display == nullptr || !HasExtension(display, "XWAYLAND")) {
    return;
  }
  if (!HasExtension(display, "XTEST")) {
    return;  // the first click reports it
  }
  // Xwayland 23.2.2+ under GNOME or KDE (xwayland-xtest.c) opens its input session through the
  // portal on a client's first XTest event of any kind, queues every event until the user has
  // answered, then replays the queue at once. A zero motion raises that dialog now, while the
  // window opens, instead of at the first click with the clicks of the next seconds piling up;
  // when it is replayed it moves nothing, since Xwayland only forwards a motion if x || y.
  g_fake_relative_motion(display, 0, 0, CurrentTime);
  XFlush(display);
}

}  // namespace clickburst::input
