// Form1's Win32 window, created for real (under Wine in the cross build, so it needs a
// display): its frame and client size at the window's DPI, the controls from the layout
// table, the ways Command1 is pressed, a move to another DPI, and closing it. The test
// executable carries the program's resources, so icon and manifest are the program's too.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "runtime/platform.h"
#include "runtime/win32_window.h"
#include "support/test_support.h"
#include "window/form1.h"
#include "window/layout.h"
#include "window/pixel_rect.h"

namespace clickburst::window {
namespace {

class Form1Win32 : public ::testing::Test {
 protected:
  void SetUp() override {
    clickburst::testing::ThrowOnProcessExit();
    MSG quit;  // left by an earlier case's window
    while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    try {
      form_ = CreateForm1Window([this] { ++clicks_; });
    } catch (const clickburst::testing::ProcessEnded&) {
      FAIL() << "the window could not be created: is there a display (DISPLAY for Wine)?";
    }
    form_->Show();
    // This thread's: another test process may show a window of the same title meanwhile.
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM found) {
          if (TextOf(window) != runtime::Widen(kTitleText)) {
            return TRUE;
          }
          *reinterpret_cast<HWND*>(found) = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&window_));
    ASSERT_NE(window_, nullptr) << "no top-level window titled " << kTitleText;
    HWND child = GetWindow(window_, GW_CHILD);
    for (HWND& control : controls_) {
      ASSERT_NE(child, nullptr) << "fewer child windows than controls in the table";
      control = child;
      child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr) << "more child windows than controls in the table";
  }

  int Dpi() const { return static_cast<int>(GetDpiForWindow(window_)); }

  PixelRect RectInClient(HWND control) const {
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&rect), 2);
    return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
  }

  static LOGFONTW FontOf(HWND control) {
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font,
               &font);
    return font;
  }

  static std::wstring ClassOf(HWND control) {
    wchar_t name[64] = {};
    GetClassNameW(control, name, 64);
    return name;
  }

  static std::wstring TextOf(HWND control) {
    wchar_t text[256] = {};
    GetWindowTextW(control, text, 256);
    return text;
  }

  // Queues a message as input is queued, and lets the run-time driver's loop take it.
  // Returns what the loop says: false once it has seen WM_QUIT.
  static bool Deliver(HWND target, UINT message, WPARAM wparam, LPARAM lparam) {
    PostMessageW(target, message, wparam, lparam);
    return Pump();
  }

  static bool Pump() {
    runtime::Driver& driver = runtime::OpenPlatformDriver();
    return driver.WaitUntil(driver.Now());
  }

  // The label's text on one line in its font: a label is never narrower.
  static int TextWidth(HWND label) {
    const std::wstring text = TextOf(label);
    HDC dc = GetDC(label);
    HGDIOBJ previous =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, previous);
    ReleaseDC(label, dc);
    return extent.cx;
  }

  void ExpectLaidOutAt(int dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ASSERT_TRUE(SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0,
                                           static_cast<UINT>(dpi)));
    for (size_t i = 0; i < kControls.size(); ++i) {
      SCOPED_TRACE(kControls[i].name);
      const PixelRect expected = PixelRectAt(kControls[i], dpi);
      const PixelRect actual = RectInClient(controls_[i]);
      if (kControls[i].kind == ControlKind::kLabel) {
        // A label runs past its box as far as its one line of text needs.
        EXPECT_EQ(actual, (PixelRect{expected.left, expected.top, actual.width, expected.height}));
        EXPECT_GE(actual.width, std::max(expected.width, TextWidth(controls_[i])));
      } else {
        EXPECT_EQ(actual, expected);
      }
      const LOGFONTW font = FontOf(controls_[i]);
      EXPECT_EQ(font.lfHeight, -TwipsToPixels(kFontHeightTwips, dpi));
      EXPECT_STREQ(font.lfFaceName, metrics.lfMessageFont.lfFaceName);
    }
  }

  int clicks_ = 0;
  std::unique_ptr<Form1Window> form_;
  HWND window_ = nullptr;
  std::array<HWND, kControls.size()> controls_{};
};

TEST_F(Form1Win32, ClientAreaIsExactAtTheWindowsDpiInAFixedFrame) {
  RECT client;
  GetClientRect(window_, &client);
  EXPECT_EQ(client.right, TwipsToPixels(kClientWidthTwips, Dpi()));
  EXPECT_EQ(client.bottom, TwipsToPixels(kClientHeightTwips, Dpi()));

  const auto style = static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE));
  EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
            static_cast<DWORD>(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX));
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0u) << "the window must not be resizable";
  EXPECT_TRUE(IsWindowVisible(window_));
}

TEST_F(Form1Win32, ControlsFollowTheLayoutTableInTabOrder) {
  for (size_t i = 0; i < kControls.size(); ++i) {
    const ControlLayout& layout = kControls[i];
    SCOPED_TRACE(layout.name);
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(controls_[i], GWL_STYLE));
    EXPECT_EQ(TextOf(controls_[i]), runtime::Widen(layout.text));
    if (layout.kind == ControlKind::kCommandButton) {
      EXPECT_EQ(ClassOf(controls_[i]), L"Button");
      EXPECT_EQ(style & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON));
      EXPECT_NE(style & WS_TABSTOP, 0u);
    } else {
      EXPECT_EQ(ClassOf(controls_[i]), L"Static");
      EXPECT_NE(style & SS_NOPREFIX, 0u) << "an '&' in a label must show as it is";
      EXPECT_EQ(style & SS_TYPEMASK, static_cast<DWORD>(SS_LEFTNOWORDWRAP));
      EXPECT_EQ(style & WS_TABSTOP, 0u);
    }
  }
  ExpectLaidOutAt(Dpi());
}

TEST_F(Form1Win32, Command1HasTheFocusAndGetsItBackOnActivation) {
  EXPECT_EQ(GetFocus(), controls_[kCommand1.tab_index]);
  SetFocus(window_);  // what DefWindowProc does when the window is activated again
  EXPECT_EQ(GetFocus(), controls_[kCommand1.tab_index]);
}

// The window does its own dialog navigation, through the run-time driver's loop.
TEST_F(Form1Win32, ClickSpaceEnterAndAltSEachPressCommand1Once) {
  HWND command1 = controls_[kCommand1.tab_index];
  SendMessageW(command1, BM_CLICK, 0, 0);
  EXPECT_EQ(clicks_, 1) << "mouse click";

  EXPECT_TRUE(Deliver(command1, WM_KEYDOWN, VK_SPACE, 0x00390001));
  EXPECT_TRUE(Deliver(command1, WM_KEYUP, VK_SPACE, static_cast<LPARAM>(0xC0390001)));
  EXPECT_EQ(clicks_, 2) << "Space";

  EXPECT_TRUE(Deliver(command1, WM_KEYDOWN, VK_RETURN, 0x001C0001));
  EXPECT_EQ(clicks_, 3) << "Enter";

  constexpr LPARAM kAltDown = 1 << 29;
  EXPECT_TRUE(Deliver(command1, WM_SYSCHAR, 's', kAltDown | 0x001F0001));
  EXPECT_EQ(clicks_, 4) << "Alt+S";
}

TEST_F(Form1Win32, MovingToAMonitorOfAnotherDpiLaysTheWindowOutAgain) {
  constexpr int kNewDpi = 144;
  SIZE scaled{};
  EXPECT_TRUE(
      SendMessageW(window_, WM_GETDPISCALEDSIZE, kNewDpi, reinterpret_cast<LPARAM>(&scaled)));
  RECT wanted{0, 0, TwipsToPixels(kClientWidthTwips, kNewDpi),
              TwipsToPixels(kClientHeightTwips, kNewDpi)};
  AdjustWindowRectExForDpi(&wanted, static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE)),
                           FALSE, static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_EXSTYLE)),
                           kNewDpi);
  EXPECT_EQ(scaled.cx, wanted.right - wanted.left);
  EXPECT_EQ(scaled.cy, wanted.bottom - wanted.top);

  RECT before;
  GetWindowRect(window_, &before);
  RECT suggested{before.left + 10, before.top + 20, before.left + 10 + scaled.cx,
                 before.top + 20 + scaled.cy};
  SendMessageW(window_, WM_DPICHANGED, MAKEWPARAM(kNewDpi, kNewDpi),
               reinterpret_cast<LPARAM>(&suggested));
  RECT after;
  GetWindowRect(window_, &after);
  EXPECT_EQ(after.left, suggested.left);
  EXPECT_EQ(after.top, suggested.top);
  EXPECT_EQ(after.right, suggested.right);
  EXPECT_EQ(after.bottom, suggested.bottom);
  ExpectLaidOutAt(kNewDpi);
}

// Where a label draws: the rows and the rightmost column its ink covers, from its own pixels.
struct Ink {
  int top = -1;
  int bottom = -1;
  int right = -1;
};

Ink InkOf(HWND label) {
  RECT client;
  GetClientRect(label, &client);
  const int width = client.right;
  const int height = client.bottom;
  BITMAPINFO info{};
  info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(dc, bitmap);
  SendMessageW(label, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
  GdiFlush();
  const auto* pixels = static_cast<const std::uint32_t*>(bits);
  const std::uint32_t background =
      pixels[static_cast<size_t>(height - 1) * width];  // below the text
  Ink ink;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (pixels[static_cast<size_t>(y) * width + x] != background) {
        ink.top = ink.top < 0 ? y : ink.top;
        ink.bottom = y;
        ink.right = std::max(ink.right, x);
      }
    }
  }
  SelectObject(dc, previous);
  DeleteObject(bitmap);
  DeleteDC(dc);
  return ink;
}

// Whatever the font: one line, and none of it cut off at the label's right edge.
TEST_F(Form1Win32, LabelsDrawOneWholeLineAt96And144Dpi) {
  for (const int dpi : {96, 144}) {
    SCOPED_TRACE(dpi);
    if (dpi != Dpi()) {
      RECT frame;
      GetWindowRect(window_, &frame);
      SendMessageW(window_, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&frame));
    }
    for (size_t i = 0; i < kControls.size(); ++i) {
      if (kControls[i].kind != ControlKind::kLabel) {
        continue;
      }
      SCOPED_TRACE(kControls[i].name);
      HDC dc = GetDC(controls_[i]);
      HGDIOBJ previous =
          SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(controls_[i], WM_GETFONT, 0, 0)));
      TEXTMETRICW metrics{};
      GetTextMetricsW(dc, &metrics);
      SelectObject(dc, previous);
      ReleaseDC(controls_[i], dc);

      const Ink ink = InkOf(controls_[i]);
      ASSERT_GE(ink.top, 0) << "the label draws nothing";
      EXPECT_LT(ink.bottom - ink.top, metrics.tmHeight) << "the text takes more than one line";
      EXPECT_LT(ink.right, RectInClient(controls_[i]).width - 1) << "the text is cut off";
    }
  }
}

TEST_F(Form1Win32, ClassCarriesTheProgramIcons) {
  EXPECT_NE(GetClassLongPtrW(window_, GCLP_HICON), 0);
  EXPECT_NE(GetClassLongPtrW(window_, GCLP_HICONSM), 0);
}

// Closing posts WM_QUIT, on which the driver's loop ends; the form outlives its window safely.
TEST_F(Form1Win32, ClosingDestroysTheWindowAndEndsTheLoop) {
  EXPECT_TRUE(Pump());
  SendMessageW(window_, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(window_));
  EXPECT_FALSE(Pump());
  form_.reset();
}

}  // namespace
}  // namespace clickburst::window
