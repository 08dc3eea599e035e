// receiver_x11: the X11 receiver (receiver_log.h). An override-redirect window, so no window
// manager moves, decorates or restacks it, that selects the button and motion events and
// logs them with CLOCK_MONOTONIC, the clock the Linux build's driver runs on.
// Ends on SIGTERM or SIGINT, or after --seconds.
//
// Usage: receiver_x11 [--seconds S] [--geometry WxH+X+Y]
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include "receiver_log.h"

namespace {

using namespace clickburst::receiver;

int g_stop_pipe[2] = {-1, -1};

void OnStopSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(g_stop_pipe[1], &byte, 1);
}

std::int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

Window CreateReceiverWindow(Display* display, const Geometry& g) {
  const int screen = DefaultScreen(display);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.background_pixel = 0x404a58;  // a flat slate, easy to tell apart in screenshots
  attributes.event_mask =
      ButtonPressMask | ButtonReleaseMask | PointerMotionMask | StructureNotifyMask;
  Window window =
      XCreateWindow(display, RootWindow(display, screen), g.x, g.y, static_cast<unsigned>(g.width),
                    static_cast<unsigned>(g.height), 0, CopyFromParent, InputOutput, CopyFromParent,
                    CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
  XStoreName(display, window, "clickburst test receiver");
  XMapRaised(display, window);
  XEvent event;
  do {
    XWindowEvent(display, window, StructureNotifyMask, &event);
  } while (event.type != MapNotify);
  return window;
}

}  // namespace

int main(int argc, char** argv) {
  Options options = ParseOptions(argc, argv);
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "receiver_x11: cannot open the X display \"%s\"\n", XDisplayName(nullptr));
    return 69;
  }
  if (pipe(g_stop_pipe) != 0) {
    std::perror("receiver_x11: pipe");
    return 1;
  }
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  sigaction(SIGTERM, &stop, nullptr);
  sigaction(SIGINT, &stop, nullptr);

  if (options.full_screen) {
    const int screen = DefaultScreen(display);
    options.geometry = {DisplayWidth(display, screen), DisplayHeight(display, screen), 0, 0};
  }
  const Geometry& g = options.geometry;
  const Window window = CreateReceiverWindow(display, g);
  MotionLog motion;
  if (options.full_screen) {
    XWarpPointer(display, None, window, 0, 0, 0, 0, g.width / 2, g.height / 2);
    motion.Known(g.x + g.width / 2, g.y + g.height / 2);
  }
  XSync(display, False);
  LogReady(MonotonicNs());

  const std::int64_t end_ns = MonotonicNs() + static_cast<std::int64_t>(options.seconds * 1e9);
  pollfd fds[2] = {{ConnectionNumber(display), POLLIN, 0}, {g_stop_pipe[0], POLLIN, 0}};
  for (;;) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      const std::int64_t now = MonotonicNs();
      if (event.type == ButtonPress || event.type == ButtonRelease) {
        const bool down = event.type == ButtonPress;
        if (event.xbutton.button == Button1) {
          LogLeftButton(down, now);
        } else if (down) {
          LogOtherButton(static_cast<int>(event.xbutton.button), now);
        }
      } else if (event.type == MotionNotify) {
        motion.At(event.xmotion.x_root, event.xmotion.y_root, now);
      }
    }
    const std::int64_t left_ns = end_ns - MonotonicNs();
    if (left_ns <= 0) {
      return 0;
    }
    if (poll(fds, 2, static_cast<int>(left_ns / 1'000'000 + 1)) > 0 && (fds[1].revents & POLLIN)) {
      return 0;
    }
  }
}
