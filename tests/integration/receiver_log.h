// The receivers' shared half: their options and the lines they print. A receiver is a test
// window that logs each mouse button event it gets, one line each on standard output,
// flushed at once so that a harness reading the pipe sees it as it happens:
//   ready <ns>           once the window is shown (and the pointer is on it)
//   down <ns> / up <ns>  left button pressed / released
//   button <n> <ns>      another button pressed (1 left, 2 middle, 3 right)
//   motion <x> <y> <ns>  the pointer moved to screen position x, y
// <ns> is the receiver's monotonic clock in nanoseconds, taken when the event is read.
//
// Options: --seconds S (end after S seconds, default 120), --geometry WxH+X+Y (cover only that
// part of the screen and leave the pointer alone; default: the whole screen, pointer warped
// to its centre).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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
};

// Prints the reason and ends the process with status 2 on a bad command line.
inline Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (std::strcmp(argv[i], "--seconds") == 0 && has_value) {
      options.seconds = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--geometry") == 0 && has_value) {
      Geometry& g = options.geometry;
      if (std::sscanf(argv[++i], "%dx%d+%d+%d", &g.width, &g.height, &g.x, &g.y) != 4 ||
          g.width <= 0 || g.height <= 0) {
        std::fprintf(stderr, "receiver: --geometry wants WxH+X+Y, not \"%s\"\n", argv[i]);
        std::exit(2);
      }
      options.full_screen = false;
    } else {
      std::fprintf(stderr, "usage: %s [--seconds S] [--geometry WxH+X+Y]\n", argv[0]);
      std::exit(2);
    }
  }
  if (options.seconds <= 0) {
    std::fprintf(stderr, "receiver: --seconds must be positive\n");
    std::exit(2);
  }
  return options;
}

inline void PrintLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

inline void LogReady(std::int64_t ns) { PrintLine("ready " + std::to_string(ns)); }

inline void LogLeftButton(bool down, std::int64_t ns) {
  PrintLine((down ? "down " : "up ") + std::to_string(ns));
}

inline void LogOtherButton(int button, std::int64_t ns) {
  PrintLine("button " + std::to_string(button) + " " + std::to_string(ns));
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
