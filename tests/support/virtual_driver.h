// Virtual time for tests: waiting jumps straight to the deadline, so a 28.9 s burst runs in
// milliseconds and every tick lands on its exact instant. Scripted input (a press of Start)
// is dispatched at its own instant; where input and a tick fall on the same instant, the
// tick comes first. The run ends at a chosen horizon.
//
// Usage: VirtualDriver time; TimerQueue q(time); time.At(ms(5000), [&] { c.OnStartCommand(); });
//        time.RunUntil(q, ms(30000));
#pragma once

#include <functional>
#include <map>
#include <optional>

#include "runtime/driver.h"
#include "runtime/timer_queue.h"

namespace clickburst::testing {

using runtime::Duration;
using runtime::Instant;

class VirtualDriver final : public runtime::Driver {
 public:
  Instant Now() const override { return now_; }
  bool WaitUntil(std::optional<Instant> deadline) override;

  // Schedules input, dispatched at `when` (or at once, if that has passed).
  void At(Instant when, std::function<void()> input);

  // Moves time on from inside a handler: a handler that takes that long, or a stall.
  void Advance(Duration duration) { now_ += duration; }

  // Runs the event loop until virtual time reaches `horizon` with nothing left due.
  void RunUntil(runtime::TimerQueue& timers, Instant horizon);

 private:
  Instant now_{};
  Instant horizon_{};
  std::multimap<Instant, std::function<void()>> inputs_;
};

}  // namespace clickburst::testing
