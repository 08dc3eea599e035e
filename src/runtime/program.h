// Start-up, all of it: main() calls RunProgram at once and does nothing else. It opens the
// display, creates the start-up form (Form1: its controls and the click burst controller,
// every timer disabled), calls its Load(), shows it and runs the event loop until the process
// ends, in EndProgram or the fatal path; it never returns. `window_shown` runs once, right
// after the window is shown, before any event is handled.
//
// Usage: int main() { clickburst::runtime::RunProgram<Form1>(&OnWindowShown); }
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
