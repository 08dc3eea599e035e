// The built-in constants of a burst, fixed at build time. Times are milliseconds.
// With these values the click limit is never reached: the program ends at most
// kBurstLengthMs after the last Start, and 28900 / 60 ticks leave ClickCount below 500.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace clickburst::burst {

// Grace before the first click, and the period at which the click timer is re-armed.
inline constexpr std::int32_t kArmPeriodMs = 2000;
// Period of the click timer once armed.
inline constexpr std::int32_t kClickPeriodMs = 60;
// From Start to the end of the program.
inline constexpr std::int32_t kBurstLengthMs = 28900;
// The click timer's Interval as created; never in effect, since arming sets kClickPeriodMs first.
inline constexpr std::int32_t kClickTimerCreatedIntervalMs = 100;
// ClickCount after every Start.
inline constexpr std::int32_t kClickCountAfterStart = 1;
// The click timer stops once ClickCount is greater than this: 701 is the first count over it.
inline constexpr std::int32_t kClickLimit = 700;

// What a burst does, in the words a desktop may show when asked for input on its behalf.
inline std::string DescribeBurst() {
  char text[128];
  std::snprintf(text, sizeof text,
                "clicks the left mouse button at the pointer every %d ms, from %g s after Start "
                "until %g s after it",
                static_cast<int>(kClickPeriodMs), kArmPeriodMs / 1000.0, kBurstLengthMs / 1000.0);
  return text;
}

}  // namespace clickburst::burst
