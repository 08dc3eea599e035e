#include "burst/controller.h"

#include "burst/burst_constants.h"
#include "input/module1.h"
#include "runtime/end_program.h"
#include "runtime/fatal_error.h"

namespace clickburst::burst {

using runtime::CheckPropertySet;

ClickBurstController::ClickBurstController(runtime::TimerQueue& timers)
    : Timer1(timers, kClickTimerCreatedIntervalMs, [this] { OnClickTick(); }),
      Timer2(timers, kArmPeriodMs, [this] { OnArmTick(); }),
      Timer3(timers, kBurstLengthMs, [this] { OnStopTick(); }) {}

// Timer1 is left alone: a Start during a burst neither restarts nor doubles the clicking,
// and re-enabling a running timer keeps its period, so the end stays where it was.
void ClickBurstController::OnStartCommand() {
  CheckPropertySet(Timer2.SetEnabled(true), "Timer2", "Enabled");
  CheckPropertySet(Timer3.SetEnabled(true), "Timer3", "Enabled");
  ClickCount = kClickCountAfterStart;
}

// Runs every kArmPeriodMs; after the first time both sets are no-ops and keep the phase.
void ClickBurstController::OnArmTick() {
  CheckPropertySet(Timer1.SetInterval(kClickPeriodMs), "Timer1", "Interval");
  CheckPropertySet(Timer1.SetEnabled(true), "Timer1", "Enabled");
}

// The tick that crosses the limit still clicks: the click is not conditional.
void ClickBurstController::OnClickTick() {
  ClickCount = ClickCount + 1;
  if (ClickCount > kClickLimit) {
    CheckPropertySet(Timer1.SetEnabled(false), "Timer1", "Enabled");
  }
  Module1::ClickLeftButton();
}

void ClickBurstController::OnStopTick() {
  CheckPropertySet(Timer1.SetEnabled(false), "Timer1", "Enabled");
  CheckPropertySet(Timer2.SetEnabled(false), "Timer2", "Enabled");
  CheckPropertySet(Timer3.SetEnabled(false), "Timer3", "Enabled");
  runtime::EndProgram();
}

}  // namespace clickburst::burst
