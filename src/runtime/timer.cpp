#include "runtime/timer.h"

#include <utility>

#include "runtime/timer_queue.h"

namespace clickburst::runtime {

Timer::Timer(TimerQueue& queue, std::int32_t interval_ms, Handler on_timer)
    : queue_(queue), interval_ms_(interval_ms), on_timer_(std::move(on_timer)) {
  queue_.Add(*this);
}

Timer::~Timer() { queue_.Remove(*this); }

StatusCode Timer::SetEnabled(bool enabled) {
  if (const StatusCode status = queue_.Admit(*this, TimerProperty::kEnabled); Failed(status)) {
    return status;
  }
  if (enabled == enabled_) {
    return kStatusOk;  // re-enabling a running timer must not stretch its period
  }
  enabled_ = enabled;
  if (enabled_) {
    StartPeriod(queue_.clock().Now());
  } else {
    due_.reset();
  }
  return kStatusOk;
}

StatusCode Timer::SetInterval(std::int32_t interval_ms) {
  if (const StatusCode status = queue_.Admit(*this, TimerProperty::kInterval); Failed(status)) {
    return status;
  }
  if (interval_ms < 0) {
    return kStatusInvalidArgument;
  }
  if (interval_ms == interval_ms_) {
    return kStatusOk;
  }
  interval_ms_ = interval_ms;
  if (enabled_) {
    StartPeriod(queue_.clock().Now());
  }
  return kStatusOk;
}

void Timer::StartPeriod(Instant now) {
  phase_ = now;
  if (interval_ms_ > 0) {
    due_ = now + Period();
  } else {
    due_.reset();
  }
}

}  // namespace clickburst::runtime
