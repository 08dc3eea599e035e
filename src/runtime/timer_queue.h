// The one timer queue of a program: it holds every Timer, knows the next deadline, and
// delivers due ticks on the user-interface thread. The rules themselves are in timer.h.
// Single-threaded by design: handlers run one at a time, each to its end.
//
// Usage: TimerQueue queue(clock);  ... for (;;) { queue.DeliverDue(); wait(queue.NextDeadline()); }
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "runtime/clock.h"
#include "runtime/status.h"
#include "runtime/timer.h"

namespace clickburst::runtime {

class TimerQueue {
 public:
  // Decides the status of a property set before it takes effect; a negative status refuses it.
  using FaultInjector = std::function<StatusCode(const Timer&, TimerProperty)>;

  explicit TimerQueue(const Clock& clock) : clock_(clock) {}
  TimerQueue(const TimerQueue&) = delete;
  TimerQueue& operator=(const TimerQueue&) = delete;

  const Clock& clock() const { return clock_; }

  // The earliest due tick of any enabled timer, or none when nothing will ever tick.
  std::optional<Instant> NextDeadline() const;

  // Delivers each tick that is due now, earliest first, creation order among equals.
  // Each timer ticks at most once per call, so a slow handler cannot starve input.
  void DeliverDue();

  void InjectFaultsForTesting(FaultInjector injector) { injector_ = std::move(injector); }

 private:
  friend class Timer;

  void Add(Timer& timer);
  void Remove(const Timer& timer);
  StatusCode Admit(const Timer& timer, TimerProperty property) const;
  Timer* EarliestDueAt(Instant now) const;

  const Clock& clock_;
  std::vector<Timer*> timers_;  // in creation order
  FaultInjector injector_;
};

}  // namespace clickburst::runtime
