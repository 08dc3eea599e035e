// Start-up. The program's entry hands control here at once: the run-time layer opens the
// display, creates the start-up form (its controls and the click burst controller, every
// timer disabled), raises its load event, shows it and runs the event loop. There is no
// main procedure of the program's own; the process ends in EndProgram or the fatal path.
// `window_shown` runs once, right after the form is shown, before any event is handled.
//
// Usage: int main() { clickburst::runtime::RunProgram<Form1>(&input::WindowShown); }
#pragma once

#include "runtime/end_program.h"
#include "runtime/event_loop.h"
#include "runtime/platform.h"
#include "runtime/timer_queue.h"

namespace clickburst::runtime {

// StartupForm: constructible from TimerQueue&, with Load() and Show().
template <class StartupForm>
[[noreturn]] void RunProgram(void (*window_shown)()) {
  Driver& driver = OpenPlatformDriver();
  // Static: the timers and the form live for the whole process, which ends without
  // unwinding, so nothing here is ever destroyed while a handler could still run.
  static TimerQueue timers(driver);
  static StartupForm form(timers);
  form.Load();
  form.Show();
  window_shown();
  RunEventLoop(driver, timers);
  EndProgram();  // the window was closed
}

}  // namespace clickburst::runtime
