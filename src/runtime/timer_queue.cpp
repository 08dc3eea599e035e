#include "runtime/timer_queue.h"

#include <algorithm>

namespace clickburst::runtime {

void TimerQueue::Add(Timer& timer) { timers_.push_back(&timer); }

void TimerQueue::Remove(const Timer& timer) { std::erase(timers_, &timer); }

StatusCode TimerQueue::Admit(const Timer& timer, TimerProperty property) const {
  return injector_ ? injector_(timer, property) : kStatusOk;
}

std::optional<Instant> TimerQueue::NextDeadline() const {
  std::optional<Instant> next;
  for (const Timer* timer : timers_) {
    if (timer->due_ && (!next || *timer->due_ < *next)) {
      next = timer->due_;
    }
  }
  return next;
}

Timer* TimerQueue::EarliestDueAt(Instant now) const {
  Timer* earliest = nullptr;
  Instant earliest_due;
  // timers_ is in creation order, so a strict "earlier than" keeps the first-created among equals.
  for (Timer* timer : timers_) {
    if (timer->due_ && *timer->due_ <= now && (!earliest || *timer->due_ < earliest_due)) {
      earliest = timer;
      earliest_due = *timer->due_;
    }
  }
  return earliest;
}

void TimerQueue::DeliverDue() {
  const Instant batch = clock_.Now();
  while (Timer* timer = EarliestDueAt(batch)) {
    // Reschedule before the handler runs, so that whatever the handler sets on its own timer wins.
    // This tick stands for the latest slot that has passed; the earlier ones are dropped. The
    // next slot has not come yet, so it keeps its tick, only spaced from this one.
    const Instant delivered = clock_.Now();
    const Duration period = timer->Period();
    const Instant next_slot = timer->phase_ + ((delivered - timer->phase_) / period + 1) * period;
    timer->due_ = std::max(next_slot, delivered + period / 2);
    timer->on_timer_();
  }
}

}  // namespace clickburst::runtime
