// A control's rectangle in pixels: as the layout table gives it at a DPI, and as a window
// shows it in its client area. Window tests compare the two.
//
// Usage: EXPECT_EQ(PixelRectAt(kCommand1, 96), (PixelRect{8, 16, 81, 33}));
#pragma once

#include <ostream>

#include "window/layout.h"

namespace clickburst::window {

struct PixelRect {
  int left;
  int top;
  int width;
  int height;
  bool operator==(const PixelRect&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const PixelRect& rect) {
  return out << rect.width << "x" << rect.height << " at (" << rect.left << ", " << rect.top << ")";
}

inline PixelRect PixelRectAt(const ControlLayout& control, int dpi) {
  return {TwipsToPixels(control.left, dpi), TwipsToPixels(control.top, dpi),
          TwipsToPixels(control.width, dpi), TwipsToPixels(control.height, dpi)};
}

}  // namespace clickburst::window
