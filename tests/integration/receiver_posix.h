// The POSIX receivers' shared loop (receiver_x11, receiver_wayland): SIGTERM and SIGINT end it
// through a pipe, and Serve() waits on the display connection until --seconds have passed.
// Single-threaded.
//
// Usage: StopOnSignals(); return Serve(fd, options, 0, [&] { return HandlePending(); });
#pragma once

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdint>

#include "receiver_log.h"

namespace clickburst::receiver {

inline int g_stop_pipe[2] = {-1, -1};

inline void OnStopSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(g_stop_pipe[1], &byte, 1);
}

// Makes SIGTERM and SIGINT end Serve(); false if the pipe cannot be made.
inline bool StopOnSignals() {
  if (pipe(g_stop_pipe) != 0) {
    return false;
  }
  struct sigaction stop = {};
  stop.sa_handler = OnStopSignal;
  sigaction(SIGTERM, &stop, nullptr);
  sigaction(SIGINT, &stop, nullptr);
  return true;
}

// Calls `handle` whenever `connection` has something to read, until it returns false (status
// 0), a stop signal comes (0), the connection goes away (0) or --seconds have passed
// (timeout_status).
template <class Handle>
int Serve(int connection, const Options& options, int timeout_status, Handle handle) {
  const std::int64_t end_ns = DeadlineNs(options);
  pollfd fds[2] = {{connection, POLLIN, 0}, {g_stop_pipe[0], POLLIN, 0}};
  for (;;) {
    if (!handle()) {
      return 0;
    }
    const std::int64_t left_ns = end_ns - MonotonicNs();
    if (left_ns <= 0) {
      return timeout_status;
    }
    if (poll(fds, 2, static_cast<int>(left_ns / 1'000'000 + 1)) > 0 &&
        ((fds[1].revents & POLLIN) || (fds[0].revents & (POLLHUP | POLLERR)))) {
      return 0;
    }
  }
}

}  // namespace clickburst::receiver
