// An event-loop driver: the one platform-specific piece of the event loop. It tells the
// time, and waits until a deadline or until input arrives, dispatching that input to the
// window system's handlers on this thread. The timer rules live in TimerQueue, not here.
//
// Drivers: one platform driver per build (platform.h), and virtual time in tests.
#pragma once

#include <optional>

#include "runtime/clock.h"

namespace clickburst::runtime {

class Driver : public Clock {
 public:
  // Returns once the deadline has passed or input was dispatched; with no deadline, waits
  // for input only. Returns false when the program should end (its window was closed).
  virtual bool WaitUntil(std::optional<Instant> deadline) = 0;
};

}  // namespace clickburst::runtime
