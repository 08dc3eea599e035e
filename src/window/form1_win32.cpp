// Windows half of Form1: a plain Win32 window built from the layout table at the DPI of the
// monitor it is on, and laid out again when it moves to a monitor of another DPI. It does its
// own dialog navigation, and once destroyed it posts WM_QUIT, which ends the program.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "runtime/end_program.h"
#include "runtime/fatal_error.h"
#include "runtime/win32_window.h"
#include "window/form1.h"
#include "window/layout.h"
#include "window/resources/resource_ids.h"

namespace clickburst::window {
namespace {

constexpr wchar_t kClassName[] = L"clickburst.Form1";
// Fixed size: a title bar with the system menu and a minimise box, nothing to drag.
constexpr DWORD kFrameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kFrameExStyle = 0;
constexpr int kFirstControlId = 100;  // a control's id is this plus its tab index
// Room after a label's text: a smoothed last glyph may spill a pixel past its advance.
constexpr Twips kLabelTextMarginTwips = 30;

int ControlId(const ControlLayout& control) { return kFirstControlId + control.tab_index; }

// The DPI calls of Windows 10 1607 and later, looked up at run time so that the program still
// starts on older systems, which are at most system-DPI aware and take the fallbacks below.
struct DpiRoutines {
  UINT(WINAPI* get_dpi_for_window)(HWND);
  BOOL(WINAPI* adjust_window_rect_ex_for_dpi)(RECT*, DWORD, BOOL, DWORD, UINT);
  BOOL(WINAPI* system_parameters_info_for_dpi)(UINT, UINT, void*, UINT, UINT);
};

const DpiRoutines& Dpi() {
  static const DpiRoutines routines = [] {
    DpiRoutines found{};
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    runtime::FindRoutine(user32, "GetDpiForWindow", found.get_dpi_for_window);
    runtime::FindRoutine(user32, "AdjustWindowRectExForDpi", found.adjust_window_rect_ex_for_dpi);
    runtime::FindRoutine(user32, "SystemParametersInfoForDpi",
                         found.system_parameters_info_for_dpi);
    return found;
  }();
  return routines;
}

// Without a window yet, the DPI of the screen it opens on is the system's.
int WindowDpi(HWND window) {
  if (window != nullptr && Dpi().get_dpi_for_window != nullptr) {
    if (const UINT dpi = Dpi().get_dpi_for_window(window); dpi != 0) {
      return static_cast<int>(dpi);
    }
  }
  int dpi = 0;
  if (HDC screen = GetDC(nullptr); screen != nullptr) {
    dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
  }
  return dpi > 0 ? dpi : kDefaultDpi;
}

// The outer size whose client area is exactly the layout's at `dpi`.
SIZE FrameSize(int dpi) {
  RECT rect{0, 0, TwipsToPixels(kClientWidthTwips, dpi), TwipsToPixels(kClientHeightTwips, dpi)};
  if (Dpi().adjust_window_rect_ex_for_dpi != nullptr) {
    Dpi().adjust_window_rect_ex_for_dpi(&rect, kFrameStyle, FALSE, kFrameExStyle,
                                        static_cast<UINT>(dpi));
  } else {
    AdjustWindowRectEx(&rect, kFrameStyle, FALSE, kFrameExStyle);
  }
  return {rect.right - rect.left, rect.bottom - rect.top};
}

// The face of the system's message font at the layout's text height.
HFONT CreateControlFont(int dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  const BOOL found =
      Dpi().system_parameters_info_for_dpi != nullptr
          ? Dpi().system_parameters_info_for_dpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics,
                                                 0, static_cast<UINT>(dpi))
          : SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  LOGFONTW font = metrics.lfMessageFont;
  if (!found) {
    font = LOGFONTW{};
    font.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(font.lfFaceName, L"MS Shell Dlg 2", LF_FACESIZE);
  }
  font.lfHeight = -TwipsToPixels(kFontHeightTwips, dpi);  // negative: the em height
  font.lfWidth = 0;
  return CreateFontIndirectW(&font);
}

HICON LoadProgramIcon(HINSTANCE instance, int size_metric) {
  const int size = GetSystemMetrics(size_metric);
  return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_CLICKBURST), IMAGE_ICON, size,
                                       size, LR_DEFAULTCOLOR | LR_SHARED));
}

[[noreturn]] void RaiseWindowError(const char* call) {
  std::string text = "cannot create the window: ";
  text.append(call).append(" failed with error ").append(std::to_string(GetLastError()));
  runtime::RaiseFatalError(text, runtime::kExitNoDisplay);
}

class Win32Form1Window final : public Form1Window {
 public:
  explicit Win32Form1Window(std::function<void()> on_command1_click)
      : on_command1_click_(std::move(on_command1_click)) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    RegisterWindowClass(instance);
    // Zero size for now: the DPI that sizes the window is known once the window exists.
    if (CreateWindowExW(kFrameExStyle, kClassName, runtime::Widen(kTitleText).c_str(), kFrameStyle,
                        CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, nullptr, nullptr, instance,
                        this) == nullptr) {
      RaiseWindowError("CreateWindowExW");
    }
    // Tab, Alt+S, Space and Enter, as in a dialog box.
    runtime::AdoptStartupWindow(window_, [this](MSG& message) {
      return window_ != nullptr && IsDialogMessageW(window_, &message) != FALSE;
    });
  }

  ~Win32Form1Window() override {
    if (window_ != nullptr) {
      DestroyWindow(window_);
    }
    if (font_ != nullptr) {
      DeleteObject(font_);
    }
  }

  Win32Form1Window(const Win32Form1Window&) = delete;
  Win32Form1Window& operator=(const Win32Form1Window&) = delete;

  void Show() override {
    ShowWindow(window_, SW_SHOWDEFAULT);
    SetFocus(controls_[kCommand1.tab_index]);
  }

 private:
  static void RegisterWindowClass(HINSTANCE instance) {
    // Themed (common controls 6) button and labels, as the manifest asks for.
    const INITCOMMONCONTROLSEX common_controls{sizeof common_controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&common_controls);

    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = &WindowProcedure;
    window_class.hInstance = instance;
    window_class.hIcon = LoadProgramIcon(instance, SM_CXICON);
    window_class.hIconSm = LoadProgramIcon(instance, SM_CXSMICON);
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    window_class.lpszClassName = kClassName;
    if (RegisterClassExW(&window_class) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      RaiseWindowError("RegisterClassExW");
    }
  }

  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<Win32Form1Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
      self = static_cast<Win32Form1Window*>(
          reinterpret_cast<const CREATESTRUCTW*>(lparam)->lpCreateParams);
      self->window_ = window;
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    if (self == nullptr) {
      return DefWindowProcW(window, message, wparam, lparam);
    }
    return self->HandleMessage(message, wparam, lparam);
  }

  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    HWND window = window_;  // WM_NCDESTROY forgets it before DefWindowProc sees the message
    switch (message) {
      case WM_CREATE:
        return OnCreate() ? 0 : -1;
      case WM_COMMAND:
        OnCommand(LOWORD(wparam), HIWORD(wparam));
        return 0;
      case WM_SETFOCUS:
        OnSetFocus();
        return 0;
      case WM_GETDPISCALEDSIZE:
        return OnGetDpiScaledSize(static_cast<int>(wparam), *reinterpret_cast<SIZE*>(lparam));
      case WM_DPICHANGED:
        OnDpiChanged(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
        return 0;
      case WM_DESTROY:
        PostQuitMessage(0);  // the program ends with its window
        return 0;
      case WM_NCDESTROY:
        OnNcDestroy();
        break;
      default:
        break;
    }
    return DefWindowProcW(window, message, wparam, lparam);
  }

  // The controls in tab order: their creation order is the order Tab visits them.
  bool OnCreate() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    for (const ControlLayout& control : kControls) {
      const bool is_button = control.kind == ControlKind::kCommandButton;
      // Labels show '&' as it is, as the FLTK window does: only a button has an access key.
      // They never wrap, whatever the font.
      const DWORD style =
          WS_CHILD | WS_VISIBLE |
          (is_button ? WS_TABSTOP | BS_DEFPUSHBUTTON : SS_LEFTNOWORDWRAP | SS_NOPREFIX);
      HWND child = CreateWindowExW(
          0, is_button ? WC_BUTTONW : WC_STATICW, runtime::Widen(control.text).c_str(), style, 0, 0,
          0, 0, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(control))),
          instance, nullptr);
      if (child == nullptr) {
        return false;
      }
      controls_[static_cast<size_t>(control.tab_index)] = child;
    }
    const int dpi = WindowDpi(window_);
    const SIZE frame = FrameSize(dpi);
    SetWindowPos(window_, nullptr, 0, 0, frame.cx, frame.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    LayOutControls(dpi);
    return true;
  }

  void OnCommand(int control_id, int notification) {
    if (control_id == ControlId(kCommand1) && notification == BN_CLICKED) {
      on_command1_click_();
    }
  }

  // Command1 is the one control that takes the focus: give it back whenever the window is
  // activated again, for Space and Enter to press it.
  void OnSetFocus() { SetFocus(controls_[kCommand1.tab_index]); }

  // Asked before a move to a monitor of another DPI: the size that keeps the client area
  // exact, so that the rectangle WM_DPICHANGED suggests can be taken as it is.
  LRESULT OnGetDpiScaledSize(int dpi, SIZE& size) {
    size = FrameSize(dpi);
    return TRUE;
  }

  void OnDpiChanged(int dpi, const RECT& suggested) {
    SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    LayOutControls(dpi);
  }

  void OnNcDestroy() {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    window_ = nullptr;
  }

  void LayOutControls(int dpi) {
    const auto px = [dpi](Twips twips) { return TwipsToPixels(twips, dpi); };
    HFONT font = CreateControlFont(dpi);
    for (const ControlLayout& control : kControls) {
      HWND child = controls_[static_cast<size_t>(control.tab_index)];
      int width = px(control.width);
      if (control.kind == ControlKind::kLabel) {
        // Where the font is wider than the layout planned for, a label runs past its box, as
        // on Linux, rather than be cut off.
        width = std::max(width, LabelTextWidth(child, font) + px(kLabelTextMarginTwips));
      }
      SetWindowPos(child, nullptr, px(control.left), px(control.top), width, px(control.height),
                   SWP_NOZORDER | SWP_NOACTIVATE);
      SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    if (font_ != nullptr) {
      DeleteObject(font_);  // no control uses it any more
    }
    font_ = font;
  }

  // The width of a label's text in `font`, in pixels.
  static int LabelTextWidth(HWND label, HFONT font) {
    wchar_t text[256] = {};
    const int length = GetWindowTextW(label, text, 256);
    SIZE extent{};
    if (HDC dc = GetDC(label); dc != nullptr) {
      HGDIOBJ previous = SelectObject(dc, font);
      GetTextExtentPoint32W(dc, text, length, &extent);
      SelectObject(dc, previous);
      ReleaseDC(label, dc);
    }
    return extent.cx;
  }

  std::function<void()> on_command1_click_;
  HWND window_ = nullptr;
  std::array<HWND, kControls.size()> controls_{};
  HFONT font_ = nullptr;
};

}  // namespace

std::unique_ptr<Form1Window> CreateForm1Window(std::function<void()> on_command1_click) {
  return std::make_unique<Win32Form1Window>(std::move(on_command1_click));
}

}  // namespace clickburst::window
