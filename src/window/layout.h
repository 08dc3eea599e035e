// Form1's layout: one table in twips (1/1440 inch), read by both window backends. At 96 DPI
// 15 twips make one pixel, so the client area is 175 x 60 pixels; at other DPIs every
// rectangle scales alike and the window keeps its proportions.
//
// Usage: int w = TwipsToPixels(kClientWidthTwips, dpi);
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "window/texts.h"

namespace clickburst::window {

using Twips = std::int32_t;

inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kDefaultDpi = 96;

// Rounds to the nearest pixel, halves away from zero, so that 96 DPI is exact.
constexpr int TwipsToPixels(Twips twips, int dpi) {
  const std::int64_t scaled = static_cast<std::int64_t>(twips) * dpi;
  return static_cast<int>((scaled + (scaled >= 0 ? kTwipsPerInch / 2 : -kTwipsPerInch / 2)) /
                          kTwipsPerInch);
}

// Text height of the controls: 8 points, so that "Created by" fits its 855 twips on one line.
inline constexpr Twips kFontHeightTwips = 160;

inline constexpr Twips kClientWidthTwips = 2625;
inline constexpr Twips kClientHeightTwips = 900;

enum class ControlKind { kCommandButton, kLabel };

struct ControlLayout {
  std::string_view name;
  ControlKind kind;
  std::string_view text;  // '&' marks the access key of a command button
  Twips left;
  Twips top;
  Twips width;
  Twips height;
  int tab_index;
};

// In tab order: Command1 has the focus when the window opens.
inline constexpr std::array<ControlLayout, 3> kControls{{
    {"Command1", ControlKind::kCommandButton, "&Start", 120, 240, 1215, 495, 0},
    {"Label1", ControlKind::kLabel, "Created by", 1320, 0, 855, 375, 1},
    {"Label2", ControlKind::kLabel, kAuthorText, 1440, 360, 855, 375, 2},
}};

inline constexpr const ControlLayout& kCommand1 = kControls[0];

}  // namespace clickburst::window
