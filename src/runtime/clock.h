// Time as the run-time layer sees it. An Instant is a point on the monotonic clock
// (CLOCK_MONOTONIC on Linux, QueryPerformanceCounter on Windows, or virtual time in tests); a
// Duration is the nanoseconds between two. Instant - Instant is a Duration, Instant + Duration
// an Instant, and Instant + Instant does not compile. Timer periods are whole milliseconds,
// as the timer control's Interval is.
//
// Usage: const Duration left = deadline - clock.Now();
#pragma once

#include <chrono>
#include <cstdint>

namespace clickburst::runtime {

// The system's monotonic clock, which never jumps with wall-clock changes. A std::chrono clock
// of its own, so that its instants mix with no other clock's.
struct MonotonicClock {
  using duration = std::chrono::nanoseconds;
  using rep = duration::rep;
  using period = duration::period;
  using time_point = std::chrono::time_point<MonotonicClock, duration>;
  static constexpr bool is_steady = true;

  static time_point now() noexcept {
    static_assert(std::chrono::steady_clock::is_steady);
    return time_point(
        std::chrono::duration_cast<duration>(std::chrono::steady_clock::now().time_since_epoch()));
  }
};

using Duration = MonotonicClock::duration;
using Instant = MonotonicClock::time_point;

// Whole milliseconds of MonotonicClock, which on Linux is CLOCK_MONOTONIC, the clock evdev
// stamps real input with: for the timestamps an input protocol asks for.
inline std::int64_t MonotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             MonotonicClock::now().time_since_epoch())
      .count();
}

// Tells the time: the event-loop driver (driver.h), or virtual time in tests.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual Instant Now() const = 0;
};

}  // namespace clickburst::runtime
