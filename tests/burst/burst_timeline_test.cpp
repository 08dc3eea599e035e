// The click burst in virtual time: the exact timeline of one burst, Start pressed again,
// the click limit, and a failing property set. Times are virtual milliseconds after Start.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "burst/burst_constants.h"
#include "burst/controller.h"
#include "input/mouse_event.h"
#include "runtime/end_program.h"
#include "support/test_support.h"
#include "support/virtual_driver.h"

namespace clickburst::burst {
namespace {

using runtime::kExitEnded;
using runtime::kExitRunTimeError;
using runtime::Timer;
using runtime::TimerProperty;
using testing::Ms;
using testing::MsList;
using Strings = std::vector<std::string>;

// The presses of one whole burst from a Start at 0.
const MsList kBurstClicksMs = testing::Grid(2060, 60, 448);

class BurstTimeline : public testing::VirtualTimeTest {
 protected:
  // Every property set is logged as "Timer2.Enabled"; the one FailOn names is refused.
  void SetUp() override {
    VirtualTimeTest::SetUp();
    queue_.InjectFaultsForTesting([this](const Timer& timer, TimerProperty property) {
      const bool refused = &timer == fail_timer_ && property == fail_property_;
      sets_.push_back(NameOf(timer) +
                      (property == TimerProperty::kEnabled ? ".Enabled" : ".Interval") +
                      (refused ? " refused" : ""));
      return refused ? runtime::kStatusFailed : runtime::kStatusOk;
    });
  }

  void FailOn(const Timer& timer, TimerProperty property) {
    fail_timer_ = &timer;
    fail_property_ = property;
  }

  std::string NameOf(const Timer& timer) const {
    return &timer == &burst_.Timer1 ? "Timer1" : &timer == &burst_.Timer2 ? "Timer2" : "Timer3";
  }

  void StartAt(long long ms) {
    At(ms, [this] { burst_.OnStartCommand(); });
  }

  // One whole burst from a Start at 0: 448 clicks on the 60 ms grid, and the end at 28900.
  void ExpectOneBurst() {
    EXPECT_EQ(NowMs(), 28900);
    EXPECT_THAT(mouse_.PressMs(), ::testing::ElementsAreArray(kBurstClicksMs));
  }

  testing::MouseRecorder mouse_{time_};
  ClickBurstController burst_{queue_};
  Strings sets_;
  const Timer* fail_timer_ = nullptr;
  TimerProperty fail_property_ = TimerProperty::kEnabled;
};

TEST_F(BurstTimeline, NothingIsClickedBeforeStartHoweverLongWeWait) {
  EXPECT_EQ(burst_.ClickCount, 0);
  EXPECT_EQ(RunUntil(24LL * 3600 * 1000), std::nullopt);
  EXPECT_TRUE(mouse_.calls().empty());
  EXPECT_EQ(queue_.NextDeadline(), std::nullopt) << "every timer is created disabled";
}

TEST_F(BurstTimeline, EachTimerTicksOneIntervalAsCreatedAfterItIsEnabled) {
  At(0, [this] { burst_.Timer1.SetEnabled(true); });  // 100 ms: clicks at 100 and 200
  At(250, [this] { burst_.Timer1.SetEnabled(false); });
  At(1000, [this] {
    burst_.Timer2.SetEnabled(true);  // 2000 ms: arms the click timer at 3000, first click 3060
    burst_.Timer3.SetEnabled(true);  // 28900 ms: the end at 29900
  });
  ASSERT_EQ(RunUntil(60000), kExitEnded);
  EXPECT_EQ(NowMs(), 29900);
  const MsList clicks = mouse_.PressMs();
  ASSERT_GE(clicks.size(), 3u);
  EXPECT_EQ(MsList(clicks.begin(), clicks.begin() + 3), (MsList{100, 200, 3060}));
}

// Each click is one press and one release at one instant, with no motion or data.
TEST_F(BurstTimeline, OneBurstFromStartToTheEnd) {
  StartAt(0);
  At(28900, [] { ADD_FAILURE() << "input handled after the end"; });
  ASSERT_EQ(RunUntil(28899), std::nullopt);
  sets_.clear();
  ASSERT_EQ(RunUntil(60000), kExitEnded);
  EXPECT_EQ(NowMs(), 28900);
  std::vector<testing::MouseCall> clicks;
  for (const long long ms : kBurstClicksMs) {
    clicks.push_back({input::kMouseEventLeftDown, 0, 0, 0, 0, Ms(ms)});
    clicks.push_back({input::kMouseEventLeftUp, 0, 0, 0, 0, Ms(ms)});
  }
  EXPECT_THAT(mouse_.calls(), ::testing::ElementsAreArray(clicks));
  EXPECT_EQ(burst_.ClickCount, 449);
  EXPECT_EQ(sets_, (Strings{"Timer1.Enabled", "Timer2.Enabled", "Timer3.Enabled"}));
  EXPECT_EQ(queue_.NextDeadline(), std::nullopt) << "every timer disabled";
}

class StartAgain : public BurstTimeline, public ::testing::WithParamInterface<long long> {};

TEST_P(StartAgain, ResetsTheCountStartsNoSecondBurstAndKeepsTheEnd) {
  const long long again = GetParam();
  StartAt(0);
  std::optional<std::int32_t> count_after_again;
  At(again, [&] {
    burst_.OnStartCommand();
    count_after_again = burst_.ClickCount;
  });
  ASSERT_EQ(RunUntil(120000), kExitEnded);
  ExpectOneBurst();  // a parallel burst would click in between
  EXPECT_EQ(count_after_again, 1);
  const MsList clicks = mouse_.PressMs();
  const long long clicks_after_again =
      std::count_if(clicks.begin(), clicks.end(), [&](long long ms) { return ms > again; });
  EXPECT_EQ(burst_.ClickCount, 1 + clicks_after_again);
}

INSTANTIATE_TEST_SUITE_P(AtAnyMoment, StartAgain,
                         ::testing::Values(0, 1, 1999, 2000, 2001, 2060, 4000, 15000, 28880, 28899),
                         [](const auto& info) { return std::to_string(info.param) + "ms"; });

TEST_F(BurstTimeline, StartPressedByEveryOwnClickStillEndsOnTime) {
  // The pointer left on Start: each of our clicks reaches Start as a queued press.
  mouse_.OnRelease([this] { time_.At(time_.Now(), [this] { burst_.OnStartCommand(); }); });
  StartAt(0);
  ASSERT_EQ(RunUntil(120000), kExitEnded);
  ExpectOneBurst();
}

TEST_F(BurstTimeline, AHundredStartsInTwoSecondsMakeOneBurst) {
  for (long long ms = 0; ms < 2000; ms += 20) {
    StartAt(ms);
  }
  ASSERT_EQ(RunUntil(120000), kExitEnded);
  ExpectOneBurst();
}

TEST_F(BurstTimeline, TickThatCrossesTheLimitDisablesTheClickTimerAndStillClicks) {
  burst_.ClickCount = kClickLimit - 1;
  At(0, [this] { burst_.OnArmTick(); });
  EXPECT_EQ(RunUntil(119), std::nullopt);
  EXPECT_EQ(burst_.ClickCount, kClickLimit);
  EXPECT_EQ(queue_.NextDeadline(), Ms(120)) << "the click timer still runs";

  EXPECT_EQ(RunUntil(10000), std::nullopt);
  EXPECT_EQ(burst_.ClickCount, kClickLimit + 1);
  EXPECT_EQ(queue_.NextDeadline(), std::nullopt) << "the click timer is disabled";
  EXPECT_EQ(mouse_.PressMs(), (MsList{60, 120}));

  // Every later call does the same: counts, keeps the timer off, clicks.
  burst_.OnClickTick();
  EXPECT_EQ(burst_.ClickCount, kClickLimit + 2);
  EXPECT_EQ(queue_.NextDeadline(), std::nullopt);
  EXPECT_EQ(mouse_.PressMs().size(), 3u);
}

// A property set that fails: the handler stops at that statement, the error names the
// property and its status, and the program ends with the run-time error status.
using FailingPropertySet = BurstTimeline;

TEST_F(FailingPropertySet, InStartStopsAtTheFailingStatement) {
  FailOn(burst_.Timer3, TimerProperty::kEnabled);
  std::string report;
  EXPECT_EQ(testing::ExitStatusOf([this] { burst_.OnStartCommand(); }, &report), kExitRunTimeError);
  EXPECT_EQ(sets_, (Strings{"Timer2.Enabled", "Timer3.Enabled refused"}));
  EXPECT_EQ(burst_.ClickCount, 0) << "the statement after it did not run";
  EXPECT_NE(report.find("Timer3.Enabled"), std::string::npos) << report;
  EXPECT_NE(report.find("0x80004005"), std::string::npos) << report;
  // The refused set changed nothing: Timer2 arms the clicks, but no Timer3 ends them.
  EXPECT_EQ(queue_.NextDeadline(), Ms(2000));
  EXPECT_EQ(RunUntil(30000), std::nullopt);
}

TEST_F(FailingPropertySet, InArmTickStopsBeforeEnablingTheClickTimer) {
  FailOn(burst_.Timer1, TimerProperty::kInterval);
  std::string report;
  EXPECT_EQ(testing::ExitStatusOf([this] { burst_.OnArmTick(); }, &report), kExitRunTimeError);
  EXPECT_EQ(sets_, (Strings{"Timer1.Interval refused"}));
  EXPECT_EQ(queue_.NextDeadline(), std::nullopt) << "the click timer is not enabled";
  EXPECT_NE(report.find("Timer1.Interval"), std::string::npos) << report;
}

TEST_F(FailingPropertySet, InStopTickNeverReachesTheNormalEnd) {
  StartAt(0);
  ASSERT_EQ(RunUntil(28899), std::nullopt);
  sets_.clear();
  FailOn(burst_.Timer2, TimerProperty::kEnabled);
  std::string report;
  EXPECT_EQ(testing::ExitStatusOf([this] { time_.RunUntil(queue_, Ms(60000)); }, &report),
            kExitRunTimeError);
  EXPECT_EQ(NowMs(), 28900);
  EXPECT_EQ(sets_, (Strings{"Timer1.Enabled", "Timer2.Enabled refused"}));
  EXPECT_NE(report.find("Timer2.Enabled"), std::string::npos) << report;
  // Timer1 is off (its next tick would be 28940) and Timer2 still on (30000); Timer3 still
  // runs too: once nothing fails, its next tick ends the program.
  EXPECT_EQ(queue_.NextDeadline(), Ms(30000));
  fail_timer_ = nullptr;
  EXPECT_EQ(RunUntil(120000), kExitEnded);
  EXPECT_EQ(NowMs(), 57800);
}

}  // namespace
}  // namespace clickburst::burst
