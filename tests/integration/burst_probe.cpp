// burst_probe: one click burst on the platform's real event loop, without the window. The
// timer queue runs on the platform driver, Start is pressed at once, and the clicks go through
// the real mouse-input routine to whatever window is under the pointer. Before Start it prints
// "start <ns>": the driver's monotonic clock in nanoseconds (CLOCK_MONOTONIC on Linux,
// QueryPerformanceCounter on Windows), the clock a receiver on the same platform logs with.
// The stop tick ends the process with status 0; the event loop returning is a fault.
//
// Usage: burst_probe   (no arguments; window_e2e.py runs it against a receiver)
#include <cstdio>

#include "burst/controller.h"
#include "runtime/end_program.h"
#include "runtime/event_loop.h"
#include "runtime/platform.h"
#include "runtime/timer_queue.h"

int main() {
  using namespace clickburst;
  runtime::Driver& driver = runtime::OpenPlatformDriver();
  // Static, as in RunProgram: the process ends in EndProgram without unwinding.
  static runtime::TimerQueue timers(driver);
  static burst::ClickBurstController burst(timers);
  std::printf("start %lld\n", static_cast<long long>(driver.Now().time_since_epoch().count()));
  std::fflush(stdout);
  burst.OnStartCommand();
  runtime::RunEventLoop(driver, timers);
  std::fprintf(stderr, "burst_probe: the event loop returned before the stop tick\n");
  return runtime::kExitRunTimeError;
}
