// Form1: the program's one window and its start-up object. It owns the Start command, the
// two credit labels and the click burst controller, and routes Command1's click to
// OnStartCommand. Its load event does nothing; it handles no other event of its own.
// The platform half (form1_win32.cpp, form1_fltk.cpp) builds the window from layout.h.
#pragma once

#include <functional>
#include <memory>

#include "burst/controller.h"
#include "runtime/timer_queue.h"

namespace clickburst::window {

// The platform window of Form1; created hidden, shown once.
class Form1Window {
 public:
  virtual ~Form1Window() = default;
  virtual void Show() = 0;
};

std::unique_ptr<Form1Window> CreateForm1Window(std::function<void()> on_command1_click);

class Form1 {
 public:
  explicit Form1(runtime::TimerQueue& timers)
      : burst_(timers), window_(CreateForm1Window([this] { burst_.OnStartCommand(); })) {}

  void Load() {}
  void Show() { window_->Show(); }

 private:
  burst::ClickBurstController burst_;
  std::unique_ptr<Form1Window> window_;
};

}  // namespace clickburst::window
