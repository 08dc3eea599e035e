#include "support/virtual_driver.h"

#include <algorithm>
#include <utility>

#include "runtime/event_loop.h"

namespace clickburst::testing {

void VirtualDriver::At(Instant when, std::function<void()> input) {
  inputs_.emplace(when, std::move(input));
}

bool VirtualDriver::WaitUntil(std::optional<Instant> deadline) {
  if (!inputs_.empty()) {
    const Instant when = inputs_.begin()->first;
    if (when <= horizon_ && (!deadline || when < *deadline)) {
      auto input = inputs_.extract(inputs_.begin());
      now_ = std::max(now_, when);
      input.mapped()();
      return true;
    }
  }
  if (deadline && *deadline <= horizon_) {
    now_ = std::max(now_, *deadline);
    return true;
  }
  now_ = std::max(now_, horizon_);
  return false;
}

void VirtualDriver::RunUntil(runtime::TimerQueue& timers, Instant horizon) {
  horizon_ = horizon;
  runtime::RunEventLoop(*this, timers);
}

void VirtualTimeTest::SetUp() { ThrowOnProcessExit(); }

std::optional<int> VirtualTimeTest::RunUntil(long long ms) {
  return ExitStatusOf([&] { time_.RunUntil(queue_, Ms(ms)); });
}

}  // namespace clickburst::testing
