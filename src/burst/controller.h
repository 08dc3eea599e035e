// The click burst controller: three timers, a click counter and the four handlers that turn
// one press of Start into a bounded burst. Start arms Timer2 (2 s, re-arming the click
// timer) and Timer3 (28.9 s, the end); each Timer1 tick counts and clicks. Knows no
// platform: it sees runtime::Timer and Module1::ClickLeftButton only. UI thread only.
//
// Usage: ClickBurstController burst(timers); ... burst.OnStartCommand();
#pragma once

#include <cstdint>

#include "runtime/timer.h"
#include "runtime/timer_queue.h"

namespace clickburst::burst {

class ClickBurstController {
 public:
  // The three timers are created disabled, in the order Timer1, Timer2, Timer3.
  explicit ClickBurstController(runtime::TimerQueue& timers);

  void OnStartCommand();
  void OnArmTick();
  void OnClickTick();
  [[noreturn]] void OnStopTick();

  runtime::Timer Timer1;  // click timer
  runtime::Timer Timer2;  // arm timer
  runtime::Timer Timer3;  // stop timer
  std::int32_t ClickCount = 0;
};

}  // namespace clickburst::burst
