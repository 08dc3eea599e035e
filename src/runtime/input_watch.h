// Linux: a connection the event loop watches beside the display's, for a click backend whose
// peer may speak while the program waits (the desktop ending a remote-desktop session), and
// the bounded waits a backend makes on its own connection outside the event loop (for room to
// write, or for an answer at set-up). The callback runs on the UI thread from inside the
// driver's wait, like any other input. Deadlines are on MonotonicClock.
//
// Usage: WatchReadable(sd_bus_get_fd(bus), &OnBusReadable);
//        if (const int error = SendWithin(fd, &TrySend); error != 0) { ... }
#pragma once

#include <chrono>

#include "runtime/clock.h"

namespace clickburst::runtime {

void WatchReadable(int fd, void (*on_readable)());

// Ends the watch, before the connection closes (its fd would be reported readable forever).
void UnwatchReadable(int fd);

// The most a click, or the way out, waits for a peer that takes no data.
inline constexpr std::chrono::milliseconds kSocketRoomWait{500};

// Calls `try_send` until it returns 0 (everything sent) or an errno other than EAGAIN, and
// after each EAGAIN waits for room on `fd`, at most `wait` in all. Returns 0, that errno, or
// ETIME where no room came in time.
int SendWithin(int fd, int (*try_send)(), Duration wait = kSocketRoomWait);

// Waits until `fd` has something to read or `deadline` passes: false on the deadline.
bool WaitReadableUntil(int fd, Instant deadline);

}  // namespace clickburst::runtime
