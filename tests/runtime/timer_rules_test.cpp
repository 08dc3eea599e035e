// The timer control's rules (timer.h), one case each, in virtual time.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "runtime/timer.h"
#include "runtime/timer_queue.h"
#include "support/virtual_driver.h"

namespace clickburst::runtime {
namespace {

using std::chrono::milliseconds;
using Ms = std::vector<long long>;

class TimerRules : public ::testing::Test {
 protected:
  // A timer whose ticks are logged as the virtual millisecond they came at.
  Timer& MakeTimer(std::string name, std::int32_t interval_ms) {
    auto& log = logs_.emplace_back();
    timers_.push_back(std::make_unique<Timer>(queue_, name, interval_ms, [this, &log, name] {
      log.push_back(NowMs());
      order_.push_back(name);
    }));
    return *timers_.back();
  }
  long long NowMs() const {
    return std::chrono::duration_cast<milliseconds>(time_.Now().time_since_epoch()).count();
  }
  void At(long long ms, std::function<void()> input) {
    time_.At(Instant(milliseconds(ms)), std::move(input));
  }
  void RunUntil(long long ms) { time_.RunUntil(queue_, Instant(milliseconds(ms))); }
  const Ms& Ticks(std::size_t timer) const { return logs_[timer]; }

  clickburst::testing::VirtualDriver time_;
  TimerQueue queue_{time_};
  std::deque<Ms> logs_;
  std::vector<std::unique_ptr<Timer>> timers_;
  std::vector<std::string> order_;
};

TEST_F(TimerRules, CreatedDisabledNeverTicks) {
  Timer& timer = MakeTimer("t", 10);
  RunUntil(100000);
  EXPECT_FALSE(timer.Enabled());
  EXPECT_TRUE(Ticks(0).empty());
  EXPECT_EQ(queue_.NextDeadline(), std::nullopt);
}

TEST_F(TimerRules, EnablingStartsAPeriodFromNow) {
  Timer& timer = MakeTimer("t", 60);
  At(1000, [&] { EXPECT_EQ(timer.SetEnabled(true), kStatusOk); });
  RunUntil(1200);
  EXPECT_EQ(Ticks(0), (Ms{1060, 1120, 1180}));
}

TEST_F(TimerRules, EnablingARunningTimerDoesNotRestartItsPeriod) {
  Timer& timer = MakeTimer("t", 100);
  At(0, [&] { timer.SetEnabled(true); });
  At(150, [&] { EXPECT_EQ(timer.SetEnabled(true), kStatusOk); });
  At(199, [&] { timer.SetEnabled(true); });
  RunUntil(300);
  EXPECT_EQ(Ticks(0), (Ms{100, 200, 300}));
}

TEST_F(TimerRules, SettingTheSameIntervalChangesNothing) {
  Timer& timer = MakeTimer("t", 100);
  At(0, [&] { timer.SetEnabled(true); });
  At(150, [&] { EXPECT_EQ(timer.SetInterval(100), kStatusOk); });
  RunUntil(300);
  EXPECT_EQ(Ticks(0), (Ms{100, 200, 300}));
}

TEST_F(TimerRules, NewIntervalOnAnEnabledTimerRestartsFromNow) {
  Timer& timer = MakeTimer("t", 100);
  At(0, [&] { timer.SetEnabled(true); });
  At(150, [&] { timer.SetInterval(30); });
  RunUntil(250);
  EXPECT_EQ(Ticks(0), (Ms{100, 180, 210, 240}));
}

TEST_F(TimerRules, NewIntervalOnADisabledTimerIsOnlyStored) {
  Timer& timer = MakeTimer("t", 100);
  At(50, [&] { timer.SetInterval(60); });
  At(500, [&] { timer.SetEnabled(true); });
  RunUntil(630);
  EXPECT_EQ(timer.IntervalMs(), 60);
  EXPECT_EQ(Ticks(0), (Ms{560, 620}));
}

TEST_F(TimerRules, NegativeIntervalIsRefusedAndChangesNothing) {
  Timer& timer = MakeTimer("t", 100);
  EXPECT_EQ(timer.SetInterval(-1), kStatusInvalidArgument);
  EXPECT_EQ(timer.IntervalMs(), 100);
}

TEST_F(TimerRules, IntervalZeroNeverTicksButStaysEnabled) {
  Timer& timer = MakeTimer("t", 0);
  At(0, [&] { timer.SetEnabled(true); });
  RunUntil(10000);
  EXPECT_TRUE(timer.Enabled());
  EXPECT_TRUE(Ticks(0).empty());
  // A real period later on starts from that moment.
  At(10000, [&] { timer.SetInterval(40); });
  RunUntil(10100);
  EXPECT_EQ(Ticks(0), (Ms{10040, 10080}));
}

TEST_F(TimerRules, SlowHandlersDoNotMoveTheGrid) {
  // Each tick's handler takes 25 ms of its 60 ms period: tick n still comes at 60 * n.
  Timer* timer = nullptr;
  std::vector<long long> ticks;
  timers_.push_back(std::make_unique<Timer>(queue_, "t", 60, [&] {
    ticks.push_back(NowMs());
    time_.Advance(milliseconds(25));
  }));
  timer = timers_.back().get();
  At(0, [&] { timer->SetEnabled(true); });
  RunUntil(60 * 1000);
  ASSERT_EQ(ticks.size(), 1000u);
  for (std::size_t n = 0; n < ticks.size(); ++n) {
    ASSERT_EQ(ticks[n], static_cast<long long>(60 * (n + 1))) << "tick " << n;
  }
}

TEST_F(TimerRules, HandlerLongerThanItsPeriodStaysOnThePhase) {
  // 70 ms of work per 60 ms tick: ticks fall late, but each is owed to a slot of the original
  // grid (60 * n), and when the lateness passes half a period a slot is dropped (360), so
  // the timer catches up with its phase instead of drifting or piling up.
  Timer* timer = nullptr;
  std::vector<long long> ticks;
  timers_.push_back(std::make_unique<Timer>(queue_, "t", 60, [&] {
    ticks.push_back(NowMs());
    time_.Advance(milliseconds(70));
  }));
  timer = timers_.back().get();
  At(0, [&] { timer->SetEnabled(true); });
  RunUntil(500);
  EXPECT_EQ(ticks, (Ms{60, 130, 200, 270, 340, 420, 490}));
}

TEST_F(TimerRules, StallDeliversOneLateTickAndDropsTheMissedOnes) {
  // The tick at 60 stalls the process for a second: the ticks due at 120 .. 1020 are missed.
  Timer* timer = nullptr;
  std::vector<long long> ticks;
  timers_.push_back(std::make_unique<Timer>(queue_, "t", 60, [&] {
    ticks.push_back(NowMs());
    if (ticks.size() == 1) {
      time_.Advance(milliseconds(1000));
    }
  }));
  timer = timers_.back().get();
  At(0, [&] { timer->SetEnabled(true); });
  RunUntil(1300);
  // One late tick at 1060; the next slot at least 30 ms on is 1140, then the grid again.
  EXPECT_EQ(ticks, (Ms{60, 1060, 1140, 1200, 1260}));
}

TEST_F(TimerRules, TickLateByLessThanHalfAPeriodKeepsTheNextSlot) {
  Timer& timer = MakeTimer("t", 100);
  At(0, [&] { timer.SetEnabled(true); });
  At(90, [&] { time_.Advance(milliseconds(50)); });  // busy until 140
  RunUntil(300);
  EXPECT_EQ(Ticks(0), (Ms{140, 200, 300}));
}

TEST_F(TimerRules, TickLateByMoreThanHalfAPeriodSkipsTheNextSlot) {
  Timer& timer = MakeTimer("t", 100);
  At(0, [&] { timer.SetEnabled(true); });
  At(90, [&] { time_.Advance(milliseconds(70)); });  // busy until 160
  RunUntil(400);
  EXPECT_EQ(Ticks(0), (Ms{160, 300, 400}));
}

TEST_F(TimerRules, DisablingDropsATickThatIsAlreadyDue) {
  // Both are due at 100; "a", created first, disables "b" before b's tick is delivered.
  Timer* b = nullptr;
  timers_.push_back(std::make_unique<Timer>(queue_, "a", 100, [&] { b->SetEnabled(false); }));
  Timer& a = *timers_.back();
  b = &MakeTimer("b", 100);
  At(0, [&] {
    a.SetEnabled(true);
    b->SetEnabled(true);
  });
  RunUntil(1000);
  EXPECT_TRUE(Ticks(0).empty());
  EXPECT_FALSE(b->Enabled());
}

TEST_F(TimerRules, NoTickAfterDisablingFromAHandler) {
  Timer& timer = MakeTimer("t", 10);
  At(0, [&] { timer.SetEnabled(true); });
  At(35, [&] { timer.SetEnabled(false); });
  RunUntil(1000);
  EXPECT_EQ(Ticks(0), (Ms{10, 20, 30}));
  EXPECT_EQ(queue_.NextDeadline(), std::nullopt);
}

TEST_F(TimerRules, TicksDueTogetherComeInCreationOrder) {
  Timer& first = MakeTimer("Timer1", 60);
  Timer& second = MakeTimer("Timer2", 120);
  Timer& third = MakeTimer("Timer3", 40);
  // Enabled in reverse order, all at 0: at 120 all three are due at once.
  At(0, [&] {
    third.SetEnabled(true);
    second.SetEnabled(true);
    first.SetEnabled(true);
  });
  RunUntil(120);
  EXPECT_EQ(order_, (std::vector<std::string>{"Timer3", "Timer1", "Timer3",     // 40, 60, 80
                                              "Timer1", "Timer2", "Timer3"}));  // all at 120
}

}  // namespace
}  // namespace clickburst::runtime
