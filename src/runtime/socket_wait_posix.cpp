#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "runtime/socket_wait.h"

namespace clickburst::runtime {
namespace {

// poll() until `deadline` for `events`: false once the deadline has passed.
bool PollUntil(int fd, short events, Instant deadline) {
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - MonotonicClock::now());
    if (left.count() <= 0) {
      return false;
    }
    pollfd socket{fd, events, 0};
    // A hang-up or error counts as ready: the next call on the connection names it.
    if (const int r = poll(&socket, 1, static_cast<int>(left.count()));
        r > 0 || (r < 0 && errno != EINTR)) {
      return true;
    }
  }
}

}  // namespace

int SendWithin(int fd, int (*try_send)(void* data), void* data, Duration wait) {
  const Instant deadline = MonotonicClock::now() + wait;
  for (;;) {
    if (const int error = try_send(data); error != EAGAIN) {
      return error;
    }
    if (!PollUntil(fd, POLLOUT, deadline)) {
      return ETIME;
    }
  }
}

Duration WaitBy(Instant deadline, Duration wait) {
  return std::clamp<Duration>(deadline - MonotonicClock::now(), Duration::zero(), wait);
}

bool WaitReadableUntil(int fd, Instant deadline) { return PollUntil(fd, POLLIN, deadline); }

}  // namespace clickburst::runtime
