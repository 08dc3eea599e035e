// receiver_x11: the X11 receiver (receiver_log.h), in one of three ways of watching a display:
//   (default)   an override-redirect window, so no window manager moves, decorates or restacks
//               it, that logs the button and motion events it gets;
//   --spy       every button press and release on the display, whichever window it goes to,
//               through the RECORD extension: also the clicks that land on the program's own
//               Start button, which no receiver window can see;
//   --map NAME  prints "mapped <ns>" once a top-level window named NAME is viewable (mapped,
//               its window manager frame too), and ends; status 1 if none is by --seconds.
// Ends on SIGTERM or SIGINT, after --seconds, or when the display goes away.
//
// Usage: receiver_x11 [--seconds S] [--geometry WxH+X+Y | --spy | --map NAME]
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/record.h>
#include <poll.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "receiver_posix.h"

namespace {

using namespace clickburst::receiver;

bool g_recording = false;

int ReceiveInAWindow(Display* display, Options options) {
  const int screen = DefaultScreen(display);
  if (options.full_screen) {
    options.geometry = {DisplayWidth(display, screen), DisplayHeight(display, screen), 0, 0};
  }
  const Geometry& g = options.geometry;
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.background_pixel = 0x404a58;  // a flat slate, easy to tell apart in screenshots
  attributes.event_mask =
      ButtonPressMask | ButtonReleaseMask | PointerMotionMask | StructureNotifyMask;
  const Window window =
      XCreateWindow(display, RootWindow(display, screen), g.x, g.y, static_cast<unsigned>(g.width),
                    static_cast<unsigned>(g.height), 0, CopyFromParent, InputOutput, CopyFromParent,
                    CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
  XStoreName(display, window, "clickburst test receiver");
  XMapRaised(display, window);
  XEvent event;
  do {
    XWindowEvent(display, window, StructureNotifyMask, &event);
  } while (event.type != MapNotify);
  MotionLog motion;
  if (options.full_screen) {
    XWarpPointer(display, None, window, 0, 0, 0, 0, g.width / 2, g.height / 2);
    motion.Known(g.x + g.width / 2, g.y + g.height / 2);
  }
  XSync(display, False);
  LogReady();
  return Serve(ConnectionNumber(display), options, 0, [&] {
    while (XPending(display) > 0) {
      XNextEvent(display, &event);
      const std::int64_t now = MonotonicNs();
      if (event.type == ButtonPress || event.type == ButtonRelease) {
        LogButton(static_cast<int>(event.xbutton.button), event.type == ButtonPress, now);
      } else if (event.type == MotionNotify) {
        motion.At(event.xmotion.x_root, event.xmotion.y_root, now);
      }
    }
    return true;
  });
}

void OnRecorded(XPointer, XRecordInterceptData* data) {
  const std::int64_t now = MonotonicNs();
  if (data->category == XRecordStartOfData) {
    g_recording = true;
  } else if (data->category == XRecordFromServer && data->data_len > 0) {
    // A device event in wire format: its first byte is the type, its second the button.
    const auto* wire = reinterpret_cast<const unsigned char*>(data->data);
    const int type = wire[0] & 0x7f;
    if (type == ButtonPress || type == ButtonRelease) {
      LogButton(wire[1], type == ButtonPress, now);
    }
  }
  XRecordFreeData(data);
}

// The server sends RECORD's data only when it flushes its output to some client: a click that
// no client receives (XTest on Xwayland over no X11 window) stayed in its buffer until 16 more
// had filled it. Raw button events, selected on the root for every device, are output for
// every click, so the data leaves with them; they are read and dropped.
bool FlushOnEveryButton(Display* control) {
  int opcode = 0;
  int first_event = 0;
  int first_error = 0;
  int major = 2;
  int minor = 0;
  if (!XQueryExtension(control, "XInputExtension", &opcode, &first_event, &first_error) ||
      XIQueryVersion(control, &major, &minor) != Success) {
    return false;
  }
  unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
  XISetMask(bits, XI_RawButtonPress);
  XISetMask(bits, XI_RawButtonRelease);
  XIEventMask mask{XIAllDevices, sizeof bits, bits};
  return XISelectEvents(control, DefaultRootWindow(control), &mask, 1) == Success;
}

int Spy(Display* control, const Options& options) {
  // RECORD wants two connections: one to set the context up, one that only carries its data.
  Display* data = XOpenDisplay(nullptr);
  int major = 0;
  int minor = 0;
  if (data == nullptr || !XRecordQueryVersion(control, &major, &minor)) {
    std::fprintf(stderr, "receiver_x11: the X server has no RECORD extension\n");
    return 69;
  }
  XRecordRange* range = XRecordAllocRange();
  range->device_events.first = ButtonPress;
  range->device_events.last = ButtonRelease;
  if (!FlushOnEveryButton(control)) {
    std::fprintf(stderr, "receiver_x11: the X server has no XInput 2 extension\n");
    return 69;
  }
  XRecordClientSpec clients = XRecordAllClients;
  const XRecordContext context = XRecordCreateContext(control, 0, &clients, 1, &range, 1);
  XSync(control, False);
  if (context == 0 || !XRecordEnableContextAsync(data, context, OnRecorded, nullptr)) {
    std::fprintf(stderr, "receiver_x11: cannot enable a RECORD context\n");
    return 1;
  }
  // Ready only once the server has answered that recording has begun.
  while (!g_recording) {
    XRecordProcessReplies(data);
    pollfd fd{ConnectionNumber(data), POLLIN, 0};
    poll(&fd, 1, g_recording ? 0 : 100);
  }
  LogReady();
  return Serve(ConnectionNumber(data), options, 0, [control, data] {
    XRecordProcessReplies(data);
    while (XPending(control) > 0) {
      XEvent event;
      XNextEvent(control, &event);
    }
    return true;
  });
}

bool IsViewableAndNamed(Display* display, Window window, const std::string& name) {
  XWindowAttributes attributes{};
  char* fetched = nullptr;
  const bool match = XGetWindowAttributes(display, window, &attributes) != 0 &&
                     attributes.map_state == IsViewable &&
                     XFetchName(display, window, &fetched) != 0 && fetched != nullptr &&
                     name == fetched;
  XFree(fetched);
  return match;
}

// A window that went away between its event and our look at it is not an error here.
int IgnoreErrors(Display*, XErrorEvent*) { return 0; }

int WatchForMap(Display* display, const Options& options) {
  XSetErrorHandler(IgnoreErrors);
  const Window root = DefaultRootWindow(display);
  XSelectInput(display, root, SubstructureNotifyMask);
  XSync(display, False);
  LogReady();
  // Every window created on the root: the program's, before its window manager reparents it.
  std::vector<Window> candidates;
  const int status = Serve(ConnectionNumber(display), options, 1, [&] {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      const std::int64_t now = MonotonicNs();
      if (event.type == CreateNotify && event.xcreatewindow.parent == root) {
        candidates.push_back(event.xcreatewindow.window);
        XSelectInput(display, event.xcreatewindow.window, StructureNotifyMask);
      } else if (event.type == MapNotify) {
        for (const Window window : candidates) {
          if (IsViewableAndNamed(display, window, options.map_name)) {
            PrintLine("mapped " + std::to_string(now));
            return false;
          }
        }
      }
    }
    return true;
  });
  if (status != 0) {
    std::fprintf(stderr, "receiver_x11: no window \"%s\" became viewable\n",
                 options.map_name.c_str());
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "receiver_x11: cannot open the X display \"%s\"\n", XDisplayName(nullptr));
    return 69;
  }
  StopOnSignals();
  if (options.spy) {
    return Spy(display, options);
  }
  return options.map_name.empty() ? ReceiveInAWindow(display, options)
                                  : WatchForMap(display, options);
}
