// Windows backend: a message loop on MsgWaitForMultipleObjectsEx, waiting on a
// high-resolution waitable timer for the next deadline, and ending on WM_QUIT. SetTimer/WM_TIMER
// does not time the ticks: it is quantised to the 15.6 ms system tick, which turns 60 ms into
// about 62.5 ms. It serves only inside the modal loops that Windows runs in a dispatch (moving
// the window, its menu, a dialog box), which wait for messages and never for our timer.
#include <windows.h>
// After windows.h, which it needs.
#include <timeapi.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>

#include "runtime/platform.h"
#include "runtime/timer_queue.h"
#include "runtime/win32_window.h"

namespace clickburst::runtime {
namespace {

// Newer than some SDK headers; values from the Windows SDK.
constexpr DWORD kCreateWaitableTimerHighResolution = 0x00000002;
constexpr int kProcessPowerThrottling = 4;  // PROCESS_INFORMATION_CLASS ProcessPowerThrottling
constexpr ULONG kPowerThrottlingCurrentVersion = 1;
constexpr ULONG kPowerThrottlingExecutionSpeed = 0x1;
constexpr ULONG kPowerThrottlingIgnoreTimerResolution = 0x4;

struct PowerThrottlingState {
  ULONG version;
  ULONG control_mask;
  ULONG state_mask;
};

// While our window sits hidden behind the application being clicked, Windows 11 would coarsen
// our timers and run us at EcoQoS (efficiency cores, lowest frequency): opt out of both. One
// call each, as Windows 10 refuses a mask that combines them; where one is refused, the other
// still holds.
void OptOutOfThrottling() {
  BOOL(WINAPI * set_information)(HANDLE, int, LPVOID, DWORD) = nullptr;
  if (!FindRoutine(GetModuleHandleW(L"kernel32.dll"), "SetProcessInformation", set_information)) {
    return;  // before Windows 8 there is no throttling to opt out of
  }
  for (const ULONG control :
       {kPowerThrottlingIgnoreTimerResolution, kPowerThrottlingExecutionSpeed}) {
    PowerThrottlingState state{kPowerThrottlingCurrentVersion, control, 0};
    set_information(GetCurrentProcess(), kProcessPowerThrottling, &state, sizeof state);
  }
}

HANDLE CreateDeadlineTimer() {
  HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, kCreateWaitableTimerHighResolution,
                                        TIMER_ALL_ACCESS);
  if (timer == nullptr) {
    // Before Windows 10 1803 the flag is refused. A plain timer follows the system tick,
    // 15.6 ms unless the process asks for 1 ms: without that, every click would be late.
    timer = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    timeBeginPeriod(1);
  }
  return timer;
}

class Win32Driver final : public Driver {
 public:
  Win32Driver() : timer_(CreateDeadlineTimer()) { OptOutOfThrottling(); }

  Instant Now() const override { return MonotonicClock::now(); }

  bool WaitUntil(std::optional<Instant> deadline) override {
    DWORD handle_count = 0;
    DWORD timeout_ms = INFINITE;
    if (deadline) {
      const Duration left = *deadline - Now();
      if (left <= Duration::zero()) {
        timeout_ms = 0;
      } else if (timer_ != nullptr) {
        LARGE_INTEGER due;
        due.QuadPart = -((left.count() + 99) / 100);  // relative, in 100 ns units
        SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE);
        handle_count = 1;
      } else {
        timeout_ms = static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
      }
    }
    MsgWaitForMultipleObjectsEx(handle_count, &timer_, timeout_ms, QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
    return PumpMessages();
  }

  void ServeInNestedLoops(TimerQueue& timers) override { timers_ = &timers; }

  // From now on no tick is delivered: the program is ending with an error on the screen.
  void StopServing() {
    timers_ = nullptr;
    Disarm();
  }

  void Adopt(HWND window, MessageFilter filter) {
    window_ = window;
    filter_ = std::move(filter);
  }
  HWND window() const { return window_; }

 private:
  bool PumpMessages() {
    MSG message;
    bool quit = false;
    while (!quit && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      quit = message.message == WM_QUIT;
      if (!quit) {
        Dispatch(message);
      }
    }
    Disarm();  // back in our own loop, the waitable timer serves again
    return !quit;
  }

  // A dispatch may run a modal loop of Windows' own, which waits for messages only: a thread
  // timer at the next deadline puts a WM_TIMER into that loop, which it dispatches to
  // OnNestedTimer. Armed before every dispatch, it is in place before any such loop begins.
  void Dispatch(MSG& message) {
    Arm();
    if (!filter_ || !filter_(message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }

  void Arm() {
    const std::optional<Instant> deadline =
        timers_ != nullptr ? timers_->NextDeadline() : std::nullopt;
    if (deadline == armed_for_ && nested_timer_ != 0) {
      return;
    }
    if (!deadline) {
      Disarm();
      return;
    }
    // Whole milliseconds, rounded up: a WM_TIMER that came before the deadline would deliver
    // nothing, and the tick would wait for the next one.
    const auto left_ms = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Now()).count();
    const auto elapse_ms = static_cast<UINT>(
        std::clamp<decltype(left_ms)>(left_ms, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM));
    // Given the id of our running thread timer, SetTimer resets it rather than adding one.
    nested_timer_ = SetTimer(nullptr, nested_timer_, elapse_ms, &OnNestedTimer);
    armed_for_ = nested_timer_ != 0 ? deadline : std::nullopt;
  }

  void Disarm() {
    if (nested_timer_ != 0) {
      KillTimer(nullptr, nested_timer_);
      nested_timer_ = 0;
    }
    armed_for_.reset();
  }

  static void CALLBACK OnNestedTimer(HWND, UINT, UINT_PTR, DWORD);

  HANDLE timer_;
  HWND window_ = nullptr;
  MessageFilter filter_;
  TimerQueue* timers_ = nullptr;
  UINT_PTR nested_timer_ = 0;
  std::optional<Instant> armed_for_;
};

Win32Driver* g_driver = nullptr;

// Inside a modal loop: deliver what is due, then arm for the next deadline. Disarmed while the
// handlers run, so that a loop of a handler's own (the error dialog) gets no tick.
void CALLBACK Win32Driver::OnNestedTimer(HWND, UINT, UINT_PTR, DWORD) {
  Win32Driver& driver = *g_driver;
  driver.Disarm();
  if (driver.timers_ != nullptr) {
    driver.timers_->DeliverDue();
    driver.Arm();
  }
}

}  // namespace

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) {
    return {};
  }
  const int size = static_cast<int>(utf8.size());
  // NOLINTBEGIN(bugprone-suspicious-stringview-data-usage): each call is given the length,
  // `size`, so it reads no further than the view, terminator or none.
  std::wstring wide(
      static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0)), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), static_cast<int>(wide.size()));
  // NOLINTEND(bugprone-suspicious-stringview-data-usage)
  return wide;
}

Driver& OpenPlatformDriver() {
  if (g_driver == nullptr) {
    g_driver = new Win32Driver;
  }
  return *g_driver;
}

void AdoptStartupWindow(HWND window, MessageFilter filter) {
  static_cast<Win32Driver&>(OpenPlatformDriver()).Adopt(window, std::move(filter));
}

void FlushDisplayOutput() {}

bool ShowErrorDialog(std::string_view title, std::string_view message) {
  if (g_driver == nullptr) {
    return false;
  }
  g_driver->StopServing();
  // Owned by our window, which is disabled meanwhile: no click reaches Start behind the box.
  // Topmost: during a burst another application has the foreground, Windows refuses
  // MB_SETFOREGROUND, and the box would open behind it with only a flashing taskbar button.
  HWND owner = IsWindow(g_driver->window()) ? g_driver->window() : nullptr;
  MessageBoxW(owner, Widen(message).c_str(), Widen(title).c_str(),
              MB_OK | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST);
  return true;
}

}  // namespace clickburst::runtime
