// The click burst in virtual time: the exact timeline of one burst, Start pressed again,
// the click limit, and a failing property set. Times are virtual milliseconds after Start.
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

using runtime::Instant;
using runtime::TimerProperty;
using std::chrono::milliseconds;
using testing::ProcessEnded;

class BurstTimeline : public ::testing::Test {
 protected:
  void SetUp() override { clickburst::testing::ThrowOnProcessExit(); }

  void At(long long ms, std::function<void()> input) {
    time_.At(Instant(milliseconds(ms)), std::move(input));
  }
  void StartAt(long long ms) {
    At(ms, [this] { burst_.OnStartCommand(); });
  }

  // Runs the event loop to `ms`; gives the exit status if the program ended on the way.
  std::optional<int> RunUntil(long long ms) {
    try {
      time_.RunUntil(queue_, Instant(milliseconds(ms)));
    } catch (const ProcessEnded& ended) {
      return ended.status;
    }
    return std::nullopt;
  }

  long long NowMs() const {
    return std::chrono::duration_cast<milliseconds>(time_.Now().time_since_epoch()).count();
  }

  std::vector<long long> ClickMs() const {
    std::vector<long long> ms;
    for (const auto press : mouse_.PressTimes()) {
      ms.push_back(std::chrono::duration_cast<milliseconds>(press.time_since_epoch()).count());
    }
    return ms;
  }

  clickburst::testing::VirtualDriver time_;
  runtime::TimerQueue queue_{time_};
  clickburst::testing::MouseRecorder mouse_{time_};
  ClickBurstController burst_{queue_};
};

TEST_F(BurstTimeline, TimersAreCreatedDisabledWithTheirIntervals) {
  EXPECT_FALSE(burst_.Timer1.Enabled());
  EXPECT_FALSE(burst_.Timer2.Enabled());
  EXPECT_FALSE(burst_.Timer3.Enabled());
  EXPECT_EQ(burst_.Timer1.IntervalMs(), 100);
  EXPECT_EQ(burst_.Timer2.IntervalMs(), 2000);
  EXPECT_EQ(burst_.Timer3.IntervalMs(), 28900);
  EXPECT_EQ(burst_.ClickCount, 0);
}

TEST_F(BurstTimeline, NothingIsClickedBeforeStartHoweverLongWeWait) {
  EXPECT_EQ(RunUntil(24LL * 3600 * 1000), std::nullopt);
  EXPECT_TRUE(mouse_.calls().empty());
  EXPECT_EQ(queue_.NextDeadline(), std::nullopt);
}

TEST_F(BurstTimeline, OneBurstFromStartToTheEnd) {
  StartAt(0);
  ASSERT_EQ(RunUntil(60000), runtime::kExitEnded);
  EXPECT_EQ(NowMs(), 28900);

  const auto clicks = ClickMs();
  ASSERT_EQ(clicks.size(), 448u);
  for (std::size_t n = 0; n < clicks.size(); ++n) {
    ASSERT_EQ(clicks[n], 2060 + 60 * static_cast<long long>(n)) << "click " << n;
  }
  EXPECT_EQ(clicks.back(), 28880);
  EXPECT_EQ(burst_.ClickCount, 449);
  EXPECT_FALSE(burst_.Timer1.Enabled());
  EXPECT_FALSE(burst_.Timer2.Enabled());
  EXPECT_FALSE(burst_.Timer3.Enabled());
}

TEST_F(BurstTimeline, EveryClickIsOneDownThenOneUpWithNoMotionOrData) {
  StartAt(0);
  RunUntil(60000);
  const auto& calls = mouse_.calls();
  ASSERT_EQ(calls.size(), 2u * 448u);
  for (std::size_t n = 0; n < calls.size(); ++n) {
    const auto& call = calls[n];
    EXPECT_EQ(call.flags, n % 2 == 0 ? input::kMouseEventLeftDown : input::kMouseEventLeftUp);
    EXPECT_EQ(call.dx, 0u);
    EXPECT_EQ(call.dy, 0u);
    EXPECT_EQ(call.data, 0u);
    EXPECT_EQ(call.extra_info, 0u);
    EXPECT_EQ(call.at, calls[n - n % 2].at) << "press and release at one instant";
  }
}

TEST_F(BurstTimeline, StopTickDisablesTheTimersInOrderThenEndsWithNothingAfter) {
  std::vector<std::string> sets;
  queue_.InjectFaultsForTesting([&](const runtime::Timer& timer, TimerProperty property) {
    if (NowMs() == 28900) {
      sets.push_back(timer.Name() +
                     (property == TimerProperty::kEnabled ? ".Enabled" : ".Interval"));
    }
    return runtime::kStatusOk;
  });
  StartAt(0);
  At(28900, [&] { ADD_FAILURE() << "input handled after the end"; });
  ASSERT_EQ(RunUntil(60000), runtime::kExitEnded);
  EXPECT_EQ(sets, (std::vector<std::string>{"Timer1.Enabled", "Timer2.Enabled", "Timer3.Enabled"}));
  EXPECT_EQ(ClickMs().back(), 28880);
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
  ASSERT_EQ(RunUntil(120000), runtime::kExitEnded);
  EXPECT_EQ(NowMs(), 28900);
  EXPECT_EQ(count_after_again, 1);
  const auto clicks = ClickMs();
  ASSERT_EQ(clicks.size(), 448u);
  EXPECT_EQ(clicks.front(), 2060);
  for (std::size_t n = 1; n < clicks.size(); ++n) {
    ASSERT_EQ(clicks[n] - clicks[n - 1], 60) << "a parallel burst would click in between";
  }
  const long long clicks_after_again =
      std::count_if(clicks.begin(), clicks.end(), [&](long long ms) { return ms > again; });
  EXPECT_EQ(burst_.ClickCount, 1 + clicks_after_again);
}

INSTANTIATE_TEST_SUITE_P(AtAnyMoment, StartAgain,
                         ::testing::Values(0, 1, 1999, 2000, 2001, 2060, 4000, 15000, 28880,
                                           28899));

TEST_F(BurstTimeline, StartPressedByEveryOwnClickStillEndsOnTime) {
  // The pointer left on Start: each of our clicks reaches Start as a queued press.
  mouse_.OnRelease([this] { time_.At(time_.Now(), [this] { burst_.OnStartCommand(); }); });
  StartAt(0);
  ASSERT_EQ(RunUntil(120000), runtime::kExitEnded);
  EXPECT_EQ(NowMs(), 28900);
  EXPECT_EQ(ClickMs().size(), 448u);
}

TEST_F(BurstTimeline, AHundredStartsInTwoSecondsMakeOneBurst) {
  for (long long ms = 0; ms < 2000; ms += 20) {
    StartAt(ms);
  }
  ASSERT_EQ(RunUntil(120000), runtime::kExitEnded);
  EXPECT_EQ(NowMs(), 28900);
  EXPECT_EQ(ClickMs().size(), 448u);
}

TEST_F(BurstTimeline, TickThatCrossesTheLimitDisablesTheClickTimerAndStillClicks) {
  burst_.ClickCount = kClickLimit - 1;
  At(0, [this] { burst_.OnArmTick(); });
  EXPECT_EQ(RunUntil(119), std::nullopt);
  EXPECT_EQ(burst_.ClickCount, kClickLimit);
  EXPECT_TRUE(burst_.Timer1.Enabled());

  EXPECT_EQ(RunUntil(10000), std::nullopt);
  EXPECT_EQ(burst_.ClickCount, kClickLimit + 1);
  EXPECT_FALSE(burst_.Timer1.Enabled());
  EXPECT_EQ(ClickMs(), (std::vector<long long>{60, 120}));

  // Every later call does the same: counts, keeps the timer off, clicks.
  burst_.OnClickTick();
  EXPECT_EQ(burst_.ClickCount, kClickLimit + 2);
  EXPECT_FALSE(burst_.Timer1.Enabled());
  EXPECT_EQ(mouse_.PressTimes().size(), 3u);
}

// A property set that fails: the handler stops at that statement, the error names the
// property and its status, and the program ends with the run-time error status.
class FailingPropertySet : public BurstTimeline {
 protected:
  void FailOn(std::string timer, TimerProperty property) {
    queue_.InjectFaultsForTesting([=](const runtime::Timer& t, TimerProperty p) {
      return t.Name() == timer && p == property ? runtime::kStatusFailed : runtime::kStatusOk;
    });
  }
  int Expect(std::function<void()> handler, std::string* report) {
    ::testing::internal::CaptureStderr();
    int status = -1;
    try {
      handler();
    } catch (const ProcessEnded& ended) {
      status = ended.status;
    }
    *report = ::testing::internal::GetCapturedStderr();
    return status;
  }
};

TEST_F(FailingPropertySet, InStartStopsAtTheFailingStatement) {
  FailOn("Timer3", TimerProperty::kEnabled);
  std::string report;
  EXPECT_EQ(Expect([this] { burst_.OnStartCommand(); }, &report), runtime::kExitRunTimeError);
  EXPECT_TRUE(burst_.Timer2.Enabled()) << "the statement before it ran";
  EXPECT_FALSE(burst_.Timer3.Enabled());
  EXPECT_EQ(burst_.ClickCount, 0) << "the statement after it did not";
  EXPECT_NE(report.find("Timer3.Enabled"), std::string::npos) << report;
  EXPECT_NE(report.find("0x80004005"), std::string::npos) << report;
}

TEST_F(FailingPropertySet, InArmTickStopsBeforeEnablingTheClickTimer) {
  FailOn("Timer1", TimerProperty::kInterval);
  std::string report;
  EXPECT_EQ(Expect([this] { burst_.OnArmTick(); }, &report), runtime::kExitRunTimeError);
  EXPECT_FALSE(burst_.Timer1.Enabled());
  EXPECT_NE(report.find("Timer1.Interval"), std::string::npos) << report;
}

TEST_F(FailingPropertySet, InStopTickNeverReachesTheNormalEnd) {
  StartAt(0);
  ASSERT_EQ(RunUntil(28899), std::nullopt);
  FailOn("Timer2", TimerProperty::kEnabled);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(RunUntil(60000), runtime::kExitRunTimeError);
  const std::string report = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(NowMs(), 28900);
  EXPECT_FALSE(burst_.Timer1.Enabled());
  EXPECT_TRUE(burst_.Timer2.Enabled());
  EXPECT_TRUE(burst_.Timer3.Enabled());
  EXPECT_NE(report.find("Timer2.Enabled"), std::string::npos) << report;
}

}  // namespace
}  // namespace clickburst::burst
