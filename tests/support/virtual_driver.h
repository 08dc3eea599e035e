// Virtual time for tests: waiting jumps straight to the deadline, so a 28.9 s burst runs in
// milliseconds and every tick lands on its exact instant. Scripted input (a press of Start)
// is dispatched at its own instant; where input and a tick fall on the same instant, the
// tick comes first. The run ends at a chosen horizon.
//
// Usage: class T : public VirtualTimeTest {};  At(5000, [&] { c.OnStartCommand(); });
//        EXPECT_EQ(RunUntil(30000), runtime::kExitEnded);
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>

#include "runtime/driver.h"
#include "runtime/timer_queue.h"
#include "support/test_support.h"

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

// A timer queue on virtual time, with the end of the process caught as its exit status.
class VirtualTimeTest : public ::testing::Test {
 protected:
  void SetUp() override;

  void At(long long ms, std::function<void()> input) { time_.At(Ms(ms), std::move(input)); }
  // Runs the event loop to `ms`; gives the exit status if the program ended on the way.
  std::optional<int> RunUntil(long long ms);
  long long NowMs() const { return MsOf(time_.Now()); }

  VirtualDriver time_;
  runtime::TimerQueue queue_{time_};
};

}  // namespace clickburst::testing
