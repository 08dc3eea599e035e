// Linux: the same five-argument contract served by XTest's XTestFakeButtonEvent, bound by
// name from libXtst.so.6 on the first click. Button 1 is the left button. The press stays
// in Xlib's buffer and goes to the server with the release in one flush, so a process
// killed between the two can never leave the button down. The pointer is not read or moved.
#include <X11/Xlib.h>

#include <string>

#include "input/mouse_event.h"
#include "runtime/fatal_error.h"
#include "runtime/late_binding.h"
#include "runtime/x11_display.h"

namespace clickburst::input {
namespace {

constexpr unsigned kLeftButton = 1;

using FakeButtonEventSignature = int(Display*, unsigned button, Bool is_press,
                                     unsigned long delay_ms);

Display* RequireDisplay() {
  Display* display = runtime::OpenedX11Display();
  if (display == nullptr) {
    runtime::RaiseRunTimeError("XTestFakeButtonEvent needs an open X display, and none is open");
  }
  return display;
}

void RequireXTestExtension() {
  Display* display = RequireDisplay();
  int opcode = 0;
  int first_event = 0;
  int first_error = 0;
  if (!XQueryExtension(display, "XTEST", &opcode, &first_event, &first_error)) {
    runtime::RaiseRunTimeError(std::string("the X server of display \"") + DisplayString(display) +
                               "\" has no XTEST extension, which XTestFakeButtonEvent needs");
  }
}

runtime::DeclaredRoutine<FakeButtonEventSignature> g_fake_button_event{
    "libXtst.so.6", "XTestFakeButtonEvent", &RequireXTestExtension};

}  // namespace

void SendMouseEvent(std::uint32_t flags, std::uint32_t /*dx*/, std::uint32_t /*dy*/,
                    std::uint32_t /*data*/, std::uintptr_t /*extra_info*/) {
  auto* fake_button_event = g_fake_button_event.Get();
  Display* display = RequireDisplay();
  if ((flags & kMouseEventLeftDown) != 0) {
    fake_button_event(display, kLeftButton, True, CurrentTime);
  }
  if ((flags & kMouseEventLeftUp) != 0) {
    fake_button_event(display, kLeftButton, False, CurrentTime);
    XFlush(display);
  }
}

}  // namespace clickburst::input
