// map_watch: waits for a top-level window of a given name to become viewable (mapped, and its
// window manager frame too) and prints "mapped <ns>", CLOCK_MONOTONIC when it saw that, then
// ends. It prints "ready <ns>" first, once it watches the root window, so that a harness can
// start the program after it. Ends with status 1 after --seconds without such a window.
//
// Usage: map_watch NAME [--seconds S]
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

bool HasName(Display* display, Window window, const std::string& name) {
  char* fetched = nullptr;
  const bool same =
      XFetchName(display, window, &fetched) != 0 && fetched != nullptr && name == fetched;
  XFree(fetched);
  return same;
}

bool Viewable(Display* display, Window window) {
  XWindowAttributes attributes{};
  return XGetWindowAttributes(display, window, &attributes) != 0 &&
         attributes.map_state == IsViewable;
}

// A window that went away between its event and our look at it is not an error here.
int IgnoreErrors(Display*, XErrorEvent*) { return 0; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && !(argc == 4 && std::strcmp(argv[2], "--seconds") == 0)) {
    std::fprintf(stderr, "usage: %s NAME [--seconds S]\n", argv[0]);
    return 2;
  }
  const std::string name = argv[1];
  const double seconds = argc == 4 ? std::atof(argv[3]) : 60;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "map_watch: cannot open the X display \"%s\"\n", XDisplayName(nullptr));
    return 69;
  }
  XSetErrorHandler(IgnoreErrors);
  const Window root = DefaultRootWindow(display);
  XSelectInput(display, root, SubstructureNotifyMask);
  XSync(display, False);
  std::printf("ready %lld\n", static_cast<long long>(MonotonicNs()));
  std::fflush(stdout);

  // Every window created on the root: the program's, before its window manager reparents it.
  std::vector<Window> candidates;
  const std::int64_t end_ns = MonotonicNs() + static_cast<std::int64_t>(seconds * 1e9);
  pollfd fd{ConnectionNumber(display), POLLIN, 0};
  for (;;) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      const std::int64_t now = MonotonicNs();
      if (event.type == CreateNotify && event.xcreatewindow.parent == root) {
        candidates.push_back(event.xcreatewindow.window);
        XSelectInput(display, event.xcreatewindow.window, StructureNotifyMask);
      } else if (event.type == MapNotify) {
        for (const Window window : candidates) {
          if (Viewable(display, window) && HasName(display, window, name)) {
            std::printf("mapped %lld\n", static_cast<long long>(now));
            return 0;
          }
        }
      }
    }
    const std::int64_t left_ns = end_ns - MonotonicNs();
    if (left_ns <= 0) {
      std::fprintf(stderr, "map_watch: no window \"%s\" became viewable\n", name.c_str());
      return 1;
    }
    poll(&fd, 1, static_cast<int>(left_ns / 1'000'000 + 1));
  }
}
