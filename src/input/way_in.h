// The ways in: every way the program can click through has one shape, and one ordered table of
// them (mouse_event_linux.cpp) is asked, row by row, when the window is shown. ChooseWayIn is the
// one place that chooses: a pure function of the table and each row's answer, so which way in
// clicks and which refusal the notice names can be proven without a desktop. UI thread only.
//
// Usage: const Choice choice = ChooseWayIn(kWaysIn, set_up);
//        if (choice.chosen.click != nullptr) { ... } else { Notice(choice.reason); }
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "runtime/clock.h"

namespace clickburst::input {

class SessionBus;

// The most the set-up of all the ways in may take, in all, before the window's first redraw.
inline constexpr std::chrono::milliseconds kSetUpBound{2000};

// The notice's words for a set-up that ran past kSetUpBound waiting for `whom`.
std::string SetUpOverrun(std::string_view whom);

inline constexpr std::uint32_t kLinuxButtonLeft = 0x110;  // BTN_LEFT, linux/input-event-codes.h

// One click at the pointer, with no motion: a release, preceded by its press where `with_press`.
// Both reach the desktop together, so a process killed between the two never leaves the button
// down.
using ClickRoutine = void (*)(bool with_press);

// What a row is given: the set-up's one deadline, the compositor's connection where one answered,
// and the session bus, opened by the first row that asks for it and shared by all.
struct SetUp {
  runtime::Instant deadline;
  bool connected = false;            // to the compositor of WAYLAND_DISPLAY
  std::uint32_t compositor_pid = 0;  // the process that listens on its socket; 0: unknown
  SessionBus* bus = nullptr;
  std::string_view what_clicks;  // what the clicks are for, in words a desktop may show
};

// A row's answer. kClicks carries what clicks; every other kind is a refusal with its words
// (none for kAbsent: the desktop has no such way in).
enum class Answer { kClicks, kAbsent, kRefused, kTimedOut, kOtherDesktop };

struct WayIn {
  Answer answer = Answer::kAbsent;
  std::string words;
  ClickRoutine click = nullptr;
  void (*end)() = nullptr;  // its end of input: bounded, never raising (end_program.h)
  int watch_fd = -1;        // the connection the event loop watches for it, and what it then does
  void (*on_readable)() = nullptr;
  bool keeps_compositor = false;  // its clicks go over the compositor's connection
  bool keeps_bus = false;         // its clicks, or its session, live on the session bus
};

WayIn Refusal(Answer answer, std::string words);
WayIn Clicks(ClickRoutine click, void (*end)());

struct WayInRow {
  const char* name;
  WayIn (*open)(const SetUp&);
  bool needs_compositor;  // asked only where the compositor answered
  // Asked only where no earlier row that speaks for the desktop refused: its sessions go
  // through that same desktop, which would refuse them too.
  bool asks_the_desktop;
  bool speaks_for_desktop;  // its refusal is the desktop's own
  int notice_rank;          // the lowest rank that refused is named; equal ranks are joined
};

struct Choice {
  WayIn chosen;        // answer kClicks, or nothing chosen
  std::string reason;  // where nothing was chosen: why, for the notice
};

// Asks the rows in order until one clicks. `set_up_failure`, where the compositor did not answer,
// is named before any row's refusal; where nobody refused, `none` is.
Choice ChooseWayIn(std::span<const WayInRow> table, const SetUp& set_up,
                   std::string_view set_up_failure, std::string_view none);

}  // namespace clickburst::input
