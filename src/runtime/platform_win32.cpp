// Windows backend: a message loop on MsgWaitForMultipleObjectsEx, waiting on a
// high-resolution waitable timer for the next deadline. SetTimer/WM_TIMER is not used: it is
// quantised to the 15.6 ms system tick, which turns 60 ms into about 62.5 ms.
#include <windows.h>
// After windows.h, which it needs.
#include <timeapi.h>

#include <chrono>
#include <string>

#include "runtime/platform.h"
#include "runtime/win32_window.h"

namespace clickburst::runtime {
namespace {

// Newer than some SDK headers; values from the Windows SDK.
constexpr DWORD kCreateWaitableTimerHighResolution = 0x00000002;
constexpr int kProcessPowerThrottling = 4;  // PROCESS_INFORMATION_CLASS ProcessPowerThrottling
constexpr ULONG kPowerThrottlingCurrentVersion = 1;
constexpr ULONG kPowerThrottlingIgnoreTimerResolution = 0x4;

struct PowerThrottlingState {
  ULONG version;
  ULONG control_mask;
  ULONG state_mask;
};

// Keeps timer precision while our window sits behind the application being clicked:
// without this, Windows 11 coarsens the timers of a process whose windows are occluded.
void OptOutOfTimerThrottling() {
  using SetProcessInformationFn = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  auto* set_information = reinterpret_cast<SetProcessInformationFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(kernel32, "SetProcessInformation")));
  if (set_information == nullptr) {
    return;  // before Windows 8 there is no throttling to opt out of
  }
  PowerThrottlingState state{kPowerThrottlingCurrentVersion, kPowerThrottlingIgnoreTimerResolution,
                             0};
  set_information(GetCurrentProcess(), kProcessPowerThrottling, &state, sizeof state);
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
  Win32Driver() : timer_(CreateDeadlineTimer()) { OptOutOfTimerThrottling(); }

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

  void Adopt(HWND window) { window_ = window; }
  HWND window() const { return window_; }

 private:
  bool PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        return false;
      }
      if (window_ == nullptr || !IsDialogMessageW(window_, &message)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
    }
    return window_ == nullptr || IsWindow(window_);
  }

  HANDLE timer_;
  HWND window_ = nullptr;
};

Win32Driver* g_driver = nullptr;

}  // namespace

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) {
    return {};
  }
  const int size = static_cast<int>(utf8.size());
  std::wstring wide(
      static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0)), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), static_cast<int>(wide.size()));
  return wide;
}

Driver& OpenPlatformDriver() {
  if (g_driver == nullptr) {
    g_driver = new Win32Driver;
  }
  return *g_driver;
}

void AdoptStartupWindow(HWND window) {
  static_cast<Win32Driver&>(OpenPlatformDriver()).Adopt(window);
}

void FlushDisplayOutput() {}

bool ShowErrorDialog(std::string_view title, std::string_view message) {
  if (g_driver == nullptr) {
    return false;
  }
  // Owned by our window, which is disabled meanwhile: no click reaches Start behind the box.
  MessageBoxW(g_driver->window(), Widen(message).c_str(), Widen(title).c_str(),
              MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
  return true;
}

}  // namespace clickburst::runtime
