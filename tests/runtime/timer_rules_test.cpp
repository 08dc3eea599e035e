// The timer control's rules (timer.h) in virtual time. Most cases are one timer, a script of
// property sets and busy spells, and the virtual milliseconds its ticks come at.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "runtime/timer.h"
#include "runtime/timer_queue.h"
#include "support/virtual_driver.h"

namespace clickburst::runtime {
namespace {

using clickburst::testing::Grid;
using clickburst::testing::Ms;
using clickburst::testing::MsList;
using TimerRules = clickburst::testing::VirtualTimeTest;

// Input at a virtual millisecond: a property set, which must return `status`, or a spell that
// keeps the thread busy.
struct Step {
  long long at_ms;
  std::function<StatusCode(Timer&, clickburst::testing::VirtualDriver&)> input;
  StatusCode status = kStatusOk;
};
Step Enable(long long at_ms) {
  return {at_ms, [](Timer& timer, auto&) { return timer.SetEnabled(true); }};
}
Step Disable(long long at_ms) {
  return {at_ms, [](Timer& timer, auto&) { return timer.SetEnabled(false); }};
}
Step Interval(long long at_ms, std::int32_t ms, StatusCode status = kStatusOk) {
  return {at_ms, [ms](Timer& timer, auto&) { return timer.SetInterval(ms); }, status};
}
Step Busy(long long at_ms, long long ms) {
  return {at_ms, [ms](Timer&, auto& time) {
            time.Advance(std::chrono::milliseconds(ms));
            return kStatusOk;
          }};
}

struct TimelineCase {
  const char* name;
  std::int32_t interval_ms;  // as created
  std::vector<Step> steps;
  long long until_ms;
  MsList ticks;
  std::optional<long long> next_ms;  // the queue's next deadline at the end
  long long handler_busy_ms = 0;     // work done by every tick's handler
};

// clang-format off
const TimelineCase kTimelines[] = {
    {"CreatedDisabledNeverTicks", 10, {}, 100000, {}, std::nullopt},
    {"EnablingStartsAPeriodFromNow", 60, {Enable(1000)}, 1200, {1060, 1120, 1180}, 1240},
    {"EnablingARunningTimerDoesNotRestartItsPeriod", 100, {Enable(0), Enable(150), Enable(199)},
     300, {100, 200, 300}, 400},
    {"SettingTheSameIntervalChangesNothing", 100, {Enable(0), Interval(150, 100)},
     300, {100, 200, 300}, 400},
    {"NewIntervalOnAnEnabledTimerRestartsFromNow", 100, {Enable(0), Interval(150, 30)},
     250, {100, 180, 210, 240}, 270},
    {"NewIntervalOnADisabledTimerIsOnlyStored", 100, {Interval(50, 60), Enable(500)},
     630, {560, 620}, 680},
    {"NegativeIntervalIsRefusedAndChangesNothing", 100,
     {Interval(0, -1, kStatusInvalidArgument), Enable(0)}, 250, {100, 200}, 300},
    // Enabled with Interval 0, it stays enabled: a real period later on starts from that moment.
    {"IntervalZeroNeverTicksButStaysEnabled", 0, {Enable(0), Interval(10000, 40)},
     10100, {10040, 10080}, 10120},
    // Each tick's handler takes 25 ms of its 60 ms period: tick n still comes at 60 * n.
    {"SlowHandlersDoNotMoveTheGrid", 60, {Enable(0)}, 60000, Grid(60, 60, 1000), 60060, 25},
    // 70 ms of work per 60 ms tick: ticks fall late, but each is owed to a slot of the original
    // grid (60 * n), and one that comes a whole period late drops its slot (the tick at 480 is
    // owed to 480, not 420), so the timer catches up with its phase instead of piling up.
    {"HandlerLongerThanItsPeriodStaysOnThePhase", 60, {Enable(0)},
     500, {60, 130, 200, 270, 340, 410, 480}, 540, 70},
    // Right after the tick at 60 the process stalls for a second: the ticks due at 120 .. 960
    // are missed. One late tick at 1060 for the slot at 1020; the slot at 1080 was not due yet
    // and keeps its tick, 30 ms on; then the grid.
    {"StallDeliversOneLateTickAndDropsTheMissedOnes", 60, {Enable(0), Busy(60, 1000)},
     1300, {60, 1060, 1090, 1140, 1200, 1260}, 1320},
    {"TickLateByLessThanHalfAPeriodKeepsTheNextSlot", 100, {Enable(0), Busy(90, 50)},
     300, {140, 200, 300}, 400},
    // Under Wine a busy machine wakes the click timer about 32 ms late: the slot after it, not
    // yet due, still gets its click, half a period after the late one, and none is lost.
    {"TickLateByMoreThanHalfAPeriodKeepsTheNextSlotHalfAPeriodOn", 60, {Enable(0), Busy(50, 42)},
     240, {92, 122, 180, 240}, 300},
    {"NoTickAfterDisabling", 10, {Enable(0), Disable(35)}, 1000, {10, 20, 30}, std::nullopt},
};
// clang-format on

class TimerTimeline : public TimerRules, public ::testing::WithParamInterface<TimelineCase> {};

TEST_P(TimerTimeline, TicksComeAtTheirSlots) {
  const TimelineCase& c = GetParam();
  MsList ticks;
  Timer timer(queue_, c.interval_ms, [&] {
    ticks.push_back(NowMs());
    time_.Advance(std::chrono::milliseconds(c.handler_busy_ms));
  });
  for (const Step& step : c.steps) {
    At(step.at_ms, [&] { EXPECT_EQ(step.input(timer, time_), step.status) << step.at_ms; });
  }
  RunUntil(c.until_ms);
  EXPECT_THAT(ticks, ::testing::ElementsAreArray(c.ticks));
  EXPECT_EQ(queue_.NextDeadline(), c.next_ms ? std::optional(Ms(*c.next_ms)) : std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(TimerRules, TimerTimeline, ::testing::ValuesIn(kTimelines),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TimerRules, DisablingDropsATickThatIsAlreadyDue) {
  // Both are due at 100; a, created first, disables b before b's tick is delivered, and b
  // never ticks again.
  std::vector<std::string> order;
  Timer* b = nullptr;
  Timer a(queue_, 100, [&] {
    order.emplace_back("a");
    b->SetEnabled(false);
  });
  Timer b_timer(queue_, 100, [&] { order.emplace_back("b"); });
  b = &b_timer;
  At(0, [&] {
    a.SetEnabled(true);
    b->SetEnabled(true);
  });
  RunUntil(1000);
  EXPECT_EQ(order, std::vector<std::string>(10, "a"));
}

TEST_F(TimerRules, TicksDueTogetherComeInCreationOrder) {
  std::vector<std::string> order;
  const auto log = [&order](const char* name) { return [&order, name] { order.push_back(name); }; };
  Timer first(queue_, 60, log("Timer1"));
  Timer second(queue_, 120, log("Timer2"));
  Timer third(queue_, 40, log("Timer3"));
  // Enabled in reverse order, all at 0: at 120 all three are due at once.
  At(0, [&] {
    third.SetEnabled(true);
    second.SetEnabled(true);
    first.SetEnabled(true);
  });
  RunUntil(120);
  EXPECT_EQ(order, (std::vector<std::string>{"Timer3", "Timer1", "Timer3",     // 40, 60, 80
                                             "Timer1", "Timer2", "Timer3"}));  // all at 120
}

}  // namespace
}  // namespace clickburst::runtime
