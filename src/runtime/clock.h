// Time as the run-time layer sees it: an Instant is nanoseconds on a monotonic clock
// (CLOCK_MONOTONIC on Linux, QueryPerformanceCounter on Windows, or virtual time in tests).
// Periods are whole milliseconds, as the timer control's Interval is.
#pragma once

#include <chrono>

namespace clickburst::runtime {

using Instant = std::chrono::nanoseconds;
using Milliseconds = std::chrono::milliseconds;

class Clock {
 public:
  virtual ~Clock() = default;
  virtual Instant Now() const = 0;
};

// The system's monotonic clock; never jumps with wall-clock changes.
class MonotonicClock final : public Clock {
 public:
  Instant Now() const override {
    static_assert(std::chrono::steady_clock::is_steady);
    return std::chrono::steady_clock::now().time_since_epoch();
  }
};

}  // namespace clickburst::runtime
