// An event-loop driver: the one platform-specific piece of the event loop. It tells the
// time, and waits until a deadline or until input arrives, dispatching that input to the
// window system's handlers on this thread. The timer rules live in TimerQueue, not here.
//
// Drivers: one platform driver per build (platform.h), and virtual time in tests.
#pragma once

#include <optional>

#include "runtime/clock.h"

namespace clickburst::runtime {

class TimerQueue;

class Driver : public Clock {
 public:
  // Returns once the deadline has passed or input was dispatched; with no deadline, waits
  // for input only. Returns false when the program should end (its window was closed).
  virtual bool WaitUntil(std::optional<Instant> deadline) = 0;

  // Where the window system runs loops of its own inside a dispatch (on Windows: moving the
  // window, its menu, a dialog box), the driver delivers the queue's due ticks from inside
  // them, so that ticks go on. The event loop hands its queue over before it starts.
  virtual void ServeInNestedLoops(TimerQueue& /*timers*/) {}
};

}  // namespace clickburst::runtime
