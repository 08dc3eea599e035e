// The event loop: timer ticks from the queue and input from the driver, one handler at a time
// on this thread. Returns when the driver reports that the program's window is gone.
#pragma once

#include "runtime/driver.h"
#include "runtime/timer_queue.h"

namespace clickburst::runtime {

inline void RunEventLoop(Driver& driver, TimerQueue& timers) {
  driver.ServeInNestedLoops(timers);
  do {
    timers.DeliverDue();
  } while (driver.WaitUntil(timers.NextDeadline()));
}

}  // namespace clickburst::runtime
