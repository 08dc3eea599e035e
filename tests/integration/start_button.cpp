// start_button: where Start (Command1) is in the program's window, from the layout table the
// window is built from, so that tests press it without copying its place. Given the width of
// the window's client area in pixels, it finds the DPI the window was laid out at and prints
// Command1's rectangle in client pixels: "left top width height". Status 1 if no DPI gives
// that width: the window measured is not Form1.
//
// Usage: start_button CLIENT-WIDTH   (e.g. 175 at 96 DPI prints "8 16 81 33")
#include <charconv>
#include <cstdio>
#include <string_view>

#include "window/layout.h"

int main(int argc, char** argv) {
  using namespace clickburst::window;
  const std::string_view text = argc == 2 ? argv[1] : "";
  int width = 0;
  if (std::from_chars(text.data(), text.data() + text.size(), width).ptr !=
      text.data() + text.size()) {
    std::fprintf(stderr, "usage: start_button CLIENT-WIDTH\n");
    return 2;
  }
  // Each DPI adds almost two pixels of width, so the rounded inverse is the one DPI that can fit.
  const int dpi = (width * kTwipsPerInch + kClientWidthTwips / 2) / kClientWidthTwips;
  if (width <= 0 || TwipsToPixels(kClientWidthTwips, dpi) != width) {
    std::fprintf(stderr, "start_button: no DPI makes the client area %d pixels wide\n", width);
    return 1;
  }
  const auto px = [dpi](Twips twips) { return TwipsToPixels(twips, dpi); };
  std::printf("%d %d %d %d\n", px(kCommand1.left), px(kCommand1.top), px(kCommand1.width),
              px(kCommand1.height));
  return 0;
}
