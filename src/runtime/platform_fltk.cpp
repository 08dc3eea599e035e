// Linux backend: the FLTK window system on X11. The event loop waits in Fl::wait with the
// time left to the next deadline on CLOCK_MONOTONIC; FLTK's own timeouts are never used,
// since they run on the wall clock and fire missed ticks back to back after a stall.
#include <FL/Fl.H>
#include <FL/fl_ask.H>
#include <FL/x.H>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>

#include "runtime/end_program.h"
#include "runtime/fatal_error.h"
#include "runtime/input_watch.h"
#include "runtime/platform.h"
#include "runtime/x11_display.h"

namespace clickburst::runtime {
namespace {

// Set once the server connection is gone: nothing may be sent to it any more.
bool g_display_lost = false;

// A process stopped inside Fl::wait (SIGSTOP, Ctrl+Z) resumes its select() with the timeout it
// had left, so the late tick would come up to a period after SIGCONT. Handling SIGCONT
// interrupts that wait instead: the late tick goes out at once.
void OnContinue(int) {}

int OnDisplayLost(Display*) {
  g_display_lost = true;
  RaiseConnectionLost("lost the connection to the X display");
}

class FltkDriver final : public Driver {
 public:
  Instant Now() const override { return MonotonicClock::now(); }

  bool WaitUntil(std::optional<Instant> deadline) override {
    if (!deadline) {
      Fl::wait();
    } else if (const Duration left = *deadline - Now(); left > Duration::zero()) {
      Fl::wait(std::chrono::duration<double>(left).count());
    } else {
      Fl::check();
    }
    // The program ends with its window: once one was shown and none is left, stop.
    window_seen_ = window_seen_ || Fl::first_window() != nullptr;
    return !window_seen_ || Fl::first_window() != nullptr;
  }

 private:
  bool window_seen_ = false;
};

}  // namespace

Driver& OpenPlatformDriver() {
  static FltkDriver* driver = [] {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
      const char* x_display = std::getenv("DISPLAY");
      const char* wayland_display = std::getenv("WAYLAND_DISPLAY");
      if ((x_display == nullptr || *x_display == '\0') && wayland_display != nullptr &&
          *wayland_display != '\0') {
        RaiseFatalError(std::string("this Wayland session (\"") + wayland_display +
                            "\") has no X server: DISPLAY is not set, and the window needs X11, "
                            "through Xwayland; enable Xwayland in the compositor",
                        kExitNoDisplay);
      }
      RaiseFatalError(std::string("cannot open the X display \"") + XDisplayName(nullptr) +
                          "\"; set DISPLAY to a running X server",
                      kExitNoDisplay);
    }
    fl_open_display(display);
    // A server that goes away must reach OnDisplayLost as an I/O error with its message,
    // not kill the process silently with SIGPIPE on the next write.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGCONT, OnContinue);
    // After FLTK's own handler, which would call exit() from inside Xlib.
    XSetIOErrorHandler(OnDisplayLost);
    return new FltkDriver;
  }();
  return *driver;
}

void WatchReadable(int fd, void (*on_readable)()) {
  struct Watch {
    void (*on_readable)();
  };
  // Kept for the whole process, as the watch is.
  Fl::add_fd(
      fd, FL_READ, [](int, void* watch) { static_cast<Watch*>(watch)->on_readable(); },
      new Watch{on_readable});
}

void UnwatchReadable(int fd) { Fl::remove_fd(fd, FL_READ); }

Display* OpenedX11Display() { return g_display_lost ? nullptr : fl_display; }

void FlushDisplayOutput() {
  if (Display* display = OpenedX11Display()) {
    XSync(display, False);
  }
}

bool ShowErrorDialog(std::string_view title, std::string_view message) {
  if (OpenedX11Display() == nullptr) {
    return false;
  }
  // The dialog only reports a fatal error: an X error meanwhile (its window gone with a
  // compositor that went with the session bus) must not end the process with Xlib's status 1
  // in place of the error's own. A display lost for good still reaches OnDisplayLost.
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  const std::string title_text(title);
  fl_message_title(title_text.c_str());
  fl_alert("%s", std::string(message).c_str());
  return true;
}

}  // namespace clickburst::runtime
