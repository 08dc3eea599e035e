// Timer control: raises its Timer event on the user-interface thread about once per Interval
// (milliseconds) while Enabled. Every timer belongs to one TimerQueue, which delivers ticks.
//
// The rules, each tested on its own:
//  1. Enabled false -> true starts a period from now: the first tick comes one Interval later.
//  2. Enabled true -> true changes nothing; the running period is not restarted.
//  3. Interval set to its current value changes nothing. A new value on an enabled timer
//     restarts the period from now; on a disabled timer it is only stored.
//  4. Interval 0: the timer never ticks, though it stays enabled.
//  5. Drift-free: tick n is due at start + n * Interval, however long handlers take.
//  6. A late tick is delivered once, for the latest slot that has passed; earlier missed slots
//     are dropped. The next slot, not yet due, keeps its tick, at least Interval / 2 after the
//     late one; the ticks after it are on the original phase again.
//  7. Once Enabled is set false, no tick of that timer is delivered, not even one already due.
//  8. Ticks due at the same instant come in the order the timers were created.
//
// Usage: Timer t(queue, 100, [&] { OnClickTick(); });
//        CheckPropertySet(t.SetInterval(60), "Timer1", "Interval");
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "runtime/clock.h"
#include "runtime/status.h"

namespace clickburst::runtime {

class TimerQueue;

enum class TimerProperty { kEnabled, kInterval };

class Timer {
 public:
  using Handler = std::function<void()>;

  // Created disabled, with the given Interval, as a control on a form is.
  Timer(TimerQueue& queue, std::int32_t interval_ms, Handler on_timer);
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  StatusCode SetEnabled(bool enabled);
  // A negative Interval is refused with kStatusInvalidArgument and changes nothing.
  StatusCode SetInterval(std::int32_t interval_ms);

 private:
  friend class TimerQueue;

  void StartPeriod(Instant now);
  Duration Period() const { return std::chrono::milliseconds(interval_ms_); }

  TimerQueue& queue_;
  std::int32_t interval_ms_;
  Handler on_timer_;
  bool enabled_ = false;
  Instant phase_;               // start of the running period; ticks fall on phase + n * Interval
  std::optional<Instant> due_;  // the next tick, or none while disabled or with Interval 0
};

}  // namespace clickburst::runtime
