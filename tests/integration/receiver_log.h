// The receivers' shared half: their options, their clock and the lines they print. A receiver
// is a test window that logs each mouse button event it gets, one line each on standard
// output, flushed at once so that a harness reading the pipe sees it as it happens:
//   ready <ns>           once the window is shown (and the pointer is on it)
//   down <ns> / up <ns>  left button pressed / released
//   button <n> <ns>      another button pressed (1 left, 2 middle, 3 right)
//   motion <x> <y> <ns>  the pointer moved to screen position x, y
// <ns> is steady_clock in nanoseconds, taken when the event is read: CLOCK_MONOTONIC with
// libstdc++ on Linux, QueryPerformanceCounter on Windows, the clocks the program's timers use.
//
// Options: --seconds S (end after S seconds, default 120), --geometry WxH+X+Y (cover only that
// part of the screen and leave the pointer alone; default: the whole screen, pointer warped
// to its centre); receiver_x11 only: --spy, --map NAME (see there).
#pragma once

#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace clickburst::receiver {

struct Geometry {
  int width = 0;
  int height = 0;
  int x = 0;
  int y = 0;
};

struct Options {
  double seconds = 120;
  bool full_screen = true;
  Geometry geometry;
  bool spy = false;
  std::string map_name;  // empty: not watching for a window to map
};

inline std::int64_t MonotonicNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

inline std::int64_t DeadlineNs(const Options& options) {
  return MonotonicNs() + static_cast<std::int64_t>(options.seconds * 1e9);
}

// Reads a number from [at, end), then `then`, or the end where `then` is '\0'; from_chars,
// since sscanf is deprecated under MSVC.
template <class Number>
bool Read(const char*& at, const char* end, Number& number, char then) {
  const auto [next, error] = std::from_chars(at, end, number);
  at = next == end ? next : next + 1;
  return error == std::errc{} && (then == '\0' ? next == end : next != end && *next == then);
}

// Ends the process with status 2 and the usage on a bad command line.
inline Options ParseOptions(int argc, char** argv) {
  Options options;
  Geometry& g = options.geometry;
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    const std::string_view value = i + 1 < argc ? argv[i + 1] : "";
    const char* at = value.data();
    const char* const end = at + value.size();
    bool valid = i + 1 < argc;
    if (option == "--spy") {
      options.spy = true;
      continue;
    } else if (option == "--seconds") {
      valid = valid && Read(at, end, options.seconds, '\0') && options.seconds > 0;
    } else if (option == "--geometry") {
      valid = valid && Read(at, end, g.width, 'x') && Read(at, end, g.height, '+') &&
              Read(at, end, g.x, '+') && Read(at, end, g.y, '\0') && g.width > 0 && g.height > 0;
      options.full_screen = false;
    } else if (option == "--map") {
      options.map_name = value;
    } else {
      valid = false;
    }
    if (!valid) {
      std::fprintf(stderr, "usage: %s [--seconds S] [--geometry WxH+X+Y] [--spy] [--map NAME]\n",
                   argv[0]);
      std::exit(2);
    }
    ++i;
  }
  return options;
}

inline void PrintLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

inline void LogReady() { PrintLine("ready " + std::to_string(MonotonicNs())); }

// A button event by X's numbers (1 left, 2 middle, 3 right, 0 another): the left button's
// presses and releases, the others' presses only.
inline void LogButton(int button, bool pressed, std::int64_t ns) {
  if (button == 1) {
    PrintLine((pressed ? "down " : "up ") + std::to_string(ns));
  } else if (pressed) {
    PrintLine("button " + std::to_string(button) + " " + std::to_string(ns));
  }
}

// Logs only real moves: Windows repeats WM_MOUSEMOVE for a pointer that stayed put, and a
// receiver's own warp is not a move of the program under test.
class MotionLog {
 public:
  void Known(int x, int y) {
    known_ = true;
    x_ = x;
    y_ = y;
  }
  void At(int x, int y, std::int64_t ns) {
    if (known_ && x == x_ && y == y_) {
      return;
    }
    Known(x, y);
    PrintLine("motion " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(ns));
  }

 private:
  bool known_ = false;
  int x_ = 0;
  int y_ = 0;
};

}  // namespace clickburst::receiver
