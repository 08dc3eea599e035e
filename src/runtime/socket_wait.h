// Linux: the bounded waits a way in makes on its own connection outside the event loop, for room
// to write or for an answer at set-up. Deadlines are on MonotonicClock. UI thread only.
//
// Usage: if (const int error = SendWithin(fd, &TrySend, &state); error != 0) { ... }
#pragma once

#include <chrono>

#include "runtime/clock.h"

namespace clickburst::runtime {

// The most a click, or the way out, waits for a peer that takes no data.
inline constexpr std::chrono::milliseconds kSocketRoomWait{500};

// Calls `try_send(data)` until it returns 0 (everything sent) or an errno other than EAGAIN, and
// after each EAGAIN waits for room on `fd`, at most `wait` in all. Returns 0, that errno, or
// ETIME where no room came in time.
int SendWithin(int fd, int (*try_send)(void* data), void* data, Duration wait = kSocketRoomWait);

// `wait`, cut short so that it ends by `deadline`: a set-up's send never outlasts the set-up.
Duration WaitBy(Instant deadline, Duration wait = kSocketRoomWait);

// Waits until `fd` has something to read or `deadline` passes: false on the deadline.
bool WaitReadableUntil(int fd, Instant deadline);

}  // namespace clickburst::runtime
