// receiver_win32: the Win32 receiver (receiver_log.h), for the Windows build under Wine, where
// mouse_event reaches Wine's own windows only. A topmost popup window that logs its button and
// motion messages. Ends after --seconds, or when the process is terminated.
//
// Usage: wine receiver_win32.exe [--seconds S] [--geometry WxH+X+Y]
#include <windows.h>
#include <windowsx.h>

#include <cstdint>
#include <cstdio>

#include "receiver_log.h"

namespace {

using namespace clickburst::receiver;

MotionLog g_motion;

LRESULT CALLBACK ReceiverProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  const std::int64_t now = MonotonicNs();
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
      LogButton(1, message == WM_LBUTTONDOWN, now);
      return 0;
    case WM_MBUTTONDOWN:
    case WM_RBUTTONDOWN:
      LogButton(message == WM_MBUTTONDOWN ? 2 : 3, true, now);
      return 0;
    case WM_MOUSEACTIVATE:
      // Clicks must not take the focus from the window under test, which a test may still
      // be typing into (Alt+F4 to close it mid-burst).
      return MA_NOACTIVATE;
    case WM_MOUSEMOVE: {
      POINT at{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
      ClientToScreen(window, &at);
      g_motion.At(at.x, at.y, now);
      return 0;
    }
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

HWND CreateReceiverWindow(const Geometry& g) {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = ReceiverProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = CreateSolidBrush(RGB(0x58, 0x4a, 0x40));
  window_class.lpszClassName = L"ClickburstTestReceiver";
  RegisterClassW(&window_class);
  HWND window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_NOACTIVATE, window_class.lpszClassName,
                                L"clickburst test receiver", WS_POPUP, g.x, g.y, g.width, g.height,
                                nullptr, nullptr, window_class.hInstance, nullptr);
  if (window == nullptr) {
    std::fprintf(stderr, "receiver_win32: CreateWindowExW failed, error %lu\n", GetLastError());
    std::exit(1);
  }
  ShowWindow(window, SW_SHOWNOACTIVATE);
  UpdateWindow(window);
  return window;
}

// Handles what is queued now; false once the deadline has passed.
bool PumpUntil(std::int64_t end_ns) {
  const std::int64_t left_ns = end_ns - MonotonicNs();
  if (left_ns <= 0) {
    return false;
  }
  MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(left_ns / 1'000'000 + 1), QS_ALLINPUT,
                              MWMO_INPUTAVAILABLE);
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options = ParseOptions(argc, argv);
  if (options.spy || !options.map_name.empty()) {
    std::fprintf(stderr, "receiver_win32: --spy and --map are X11's\n");
    return 2;
  }
  if (options.full_screen) {
    options.geometry = {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), 0, 0};
  }
  const Geometry& g = options.geometry;
  const HWND window = CreateReceiverWindow(g);
  if (options.full_screen) {
    const POINT centre{g.x + g.width / 2, g.y + g.height / 2};
    SetCursorPos(centre.x, centre.y);
    g_motion.Known(centre.x, centre.y);
  }
  // Let the window reach the screen before the harness starts clicking at it.
  PumpUntil(MonotonicNs() + 200'000'000);
  LogReady();
  const std::int64_t end_ns = DeadlineNs(options);
  while (PumpUntil(end_ns) && IsWindow(window)) {
  }
  return 0;
}
