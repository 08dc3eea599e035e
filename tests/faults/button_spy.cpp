// button_spy: logs every mouse button press and release on the X display, whichever window
// it goes to, in the receivers' line format (tests/integration/receiver_log.h). It watches
// through the RECORD extension, so it also sees the clicks that land on the program's own
// Start button, which no receiver window can. Stamps are CLOCK_MONOTONIC when read.
// Ends on SIGTERM or SIGINT, after --seconds, or when the display goes away.
//
// Usage: button_spy [--seconds S]
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/record.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "receiver_log.h"

namespace {

using namespace clickburst::receiver;

int g_stop_pipe[2] = {-1, -1};
bool g_recording = false;

void OnStopSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(g_stop_pipe[1], &byte, 1);
}

std::int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void OnIntercepted(XPointer, XRecordInterceptData* data) {
  const std::int64_t now = MonotonicNs();
  if (data->category == XRecordStartOfData) {
    g_recording = true;
  } else if (data->category == XRecordFromServer && data->data_len > 0) {
    // A device event in wire format: its first byte is the type, its second the button.
    const auto* wire = reinterpret_cast<const unsigned char*>(data->data);
    const int type = wire[0] & 0x7f;
    const int button = wire[1];
    if (button == Button1 && (type == ButtonPress || type == ButtonRelease)) {
      LogLeftButton(type == ButtonPress, now);
    } else if (type == ButtonPress) {
      LogOtherButton(button, now);
    }
  }
  XRecordFreeData(data);
}

double ParseSeconds(int argc, char** argv) {
  if (argc == 1) {
    return 120;
  }
  if (argc == 3 && std::strcmp(argv[1], "--seconds") == 0 && std::atof(argv[2]) > 0) {
    return std::atof(argv[2]);
  }
  std::fprintf(stderr, "usage: %s [--seconds S]\n", argv[0]);
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = ParseSeconds(argc, argv);
  // RECORD wants two connections: one to set the context up, one that only carries its data.
  Display* control = XOpenDisplay(nullptr);
  Display* data = XOpenDisplay(nullptr);
  if (control == nullptr || data == nullptr) {
    std::fprintf(stderr, "button_spy: cannot open the X display \"%s\"\n", XDisplayName(nullptr));
    return 69;
  }
  int major = 0;
  int minor = 0;
  if (!XRecordQueryVersion(control, &major, &minor)) {
    std::fprintf(stderr, "button_spy: the X server has no RECORD extension\n");
    return 69;
  }
  if (pipe(g_stop_pipe) != 0) {
    std::perror("button_spy: pipe");
    return 1;
  }
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  sigaction(SIGTERM, &stop, nullptr);
  sigaction(SIGINT, &stop, nullptr);

  XRecordRange* range = XRecordAllocRange();
  range->device_events.first = ButtonPress;
  range->device_events.last = ButtonRelease;
  XRecordClientSpec clients = XRecordAllClients;
  const XRecordContext context = XRecordCreateContext(control, 0, &clients, 1, &range, 1);
  XSync(control, False);
  if (context == 0 || !XRecordEnableContextAsync(data, context, OnIntercepted, nullptr)) {
    std::fprintf(stderr, "button_spy: cannot enable a RECORD context\n");
    return 1;
  }
  // Ready only once the server has answered that recording has begun.
  while (!g_recording) {
    XRecordProcessReplies(data);
    if (!g_recording) {
      pollfd fd{ConnectionNumber(data), POLLIN, 0};
      poll(&fd, 1, 100);
    }
  }
  LogReady(MonotonicNs());

  const std::int64_t end_ns = MonotonicNs() + static_cast<std::int64_t>(seconds * 1e9);
  pollfd fds[2] = {{ConnectionNumber(data), POLLIN, 0}, {g_stop_pipe[0], POLLIN, 0}};
  for (;;) {
    const std::int64_t left_ns = end_ns - MonotonicNs();
    if (left_ns <= 0) {
      return 0;
    }
    if (poll(fds, 2, static_cast<int>(left_ns / 1'000'000 + 1)) > 0) {
      if (fds[1].revents & POLLIN) {
        return 0;
      }
      if (fds[0].revents & (POLLHUP | POLLERR)) {
        return 0;
      }
      XRecordProcessReplies(data);
    }
  }
}
