// Form1's layout table in pixels: the rectangles both window backends place at 96, 144 and
// 192 DPI, the rounding that gets them there, and the invariants the backends rely on.
#include <gtest/gtest.h>

#include <array>
#include <string_view>

#include "window/layout.h"
#include "window/pixel_rect.h"

namespace clickburst::window {
namespace {

// Pixel rectangles worked out by hand from the twips, in the table's order.
struct DpiCase {
  int dpi;
  int client_width;
  int client_height;
  int font_height;
  std::array<PixelRect, 3> controls;
};

constexpr std::array<DpiCase, 3> kDpiCases{{
    {96, 175, 60, 11, {{{8, 16, 81, 33}, {88, 0, 57, 25}, {96, 24, 57, 25}}}},
    // 1.5 pixels per 15 twips: the halves (262.5, 121.5, 85.5, 49.5, 37.5) round up.
    {144, 263, 90, 16, {{{12, 24, 122, 50}, {132, 0, 86, 38}, {144, 36, 86, 38}}}},
    {192, 350, 120, 21, {{{16, 32, 162, 66}, {176, 0, 114, 50}, {192, 48, 114, 50}}}},
}};

TEST(Layout, ClientAreaAndControlsInPixelsAt96And144And192Dpi) {
  for (const DpiCase& expected : kDpiCases) {
    SCOPED_TRACE(expected.dpi);
    EXPECT_EQ(TwipsToPixels(kClientWidthTwips, expected.dpi), expected.client_width);
    EXPECT_EQ(TwipsToPixels(kClientHeightTwips, expected.dpi), expected.client_height);
    EXPECT_EQ(TwipsToPixels(kFontHeightTwips, expected.dpi), expected.font_height);
    for (size_t i = 0; i < kControls.size(); ++i) {
      SCOPED_TRACE(kControls[i].name);
      EXPECT_EQ(PixelRectAt(kControls[i], expected.dpi), expected.controls[i]);
    }
  }
}

TEST(Layout, TwipsToPixelsRoundsHalvesAwayFromZero) {
  EXPECT_EQ(TwipsToPixels(15, 96), 1);
  EXPECT_EQ(TwipsToPixels(7, 96), 0);   // 0.47 pixel
  EXPECT_EQ(TwipsToPixels(8, 96), 1);   // 0.53 pixel
  EXPECT_EQ(TwipsToPixels(5, 144), 1);  // exactly half
  EXPECT_EQ(TwipsToPixels(-5, 144), -1);
  EXPECT_EQ(TwipsToPixels(0, 192), 0);
  // No overflow for a large rectangle at a large DPI: 1e6 twips is 694 inches.
  EXPECT_EQ(TwipsToPixels(1'000'000, 480), 333'333);
}

// The backends create controls in table order and count on it for Tab and the focus;
// kCommand1 is the table's first entry by definition, so its name pins the order down.
TEST(Layout, TableIsInTabOrderWithCommand1First) {
  for (size_t i = 0; i < kControls.size(); ++i) {
    EXPECT_EQ(kControls[i].tab_index, static_cast<int>(i)) << kControls[i].name;
  }
  EXPECT_EQ(kCommand1.name, "Command1");
  EXPECT_EQ(kCommand1.kind, ControlKind::kCommandButton);
  EXPECT_EQ(kCommand1.text, "&Start");  // Alt+S
}

TEST(Layout, EveryControlFitsTheClientAreaAtEveryDpi) {
  for (const int dpi : {96, 120, 144, 168, 192, 288}) {
    const int width = TwipsToPixels(kClientWidthTwips, dpi);
    const int height = TwipsToPixels(kClientHeightTwips, dpi);
    for (const ControlLayout& control : kControls) {
      const PixelRect rect = PixelRectAt(control, dpi);
      EXPECT_GE(rect.left, 0) << control.name << " at " << dpi;
      EXPECT_GE(rect.top, 0) << control.name << " at " << dpi;
      EXPECT_LE(rect.left + rect.width, width) << control.name << " at " << dpi;
      EXPECT_LE(rect.top + rect.height, height) << control.name << " at " << dpi;
      // A label is at least one line of text high.
      EXPECT_GE(rect.height, TwipsToPixels(kFontHeightTwips, dpi)) << control.name;
    }
  }
}

}  // namespace
}  // namespace clickburst::window
