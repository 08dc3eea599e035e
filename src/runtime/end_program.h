// The end of the program: flushes what is pending to the display (so the last click is
// delivered), then ends the process at once. No further event is delivered and no handler
// runs. Exit statuses are fixed here, one table for the whole program.
#pragma once

namespace clickburst::runtime {

inline constexpr int kExitEnded = 0;          // EndProgram, or the window was closed
inline constexpr int kExitRunTimeError = 70;  // a run-time error was reported (EX_SOFTWARE)
inline constexpr int kExitNoDisplay = 69;     // no display to open (EX_UNAVAILABLE)

[[noreturn]] void EndProgram();

// Ends the process with `status` after flushing the click backend, the display and standard
// streams.
[[noreturn]] void ExitProcessWith(int status);

// The click backend's own connection, flushed first on every way out (the end, the window
// closed, a fatal error), so that a release still in its buffer reaches the server. `flush`
// must wait a bounded time and never raise an error: the process is already ending.
void SetClickFlushAtExit(void (*flush)());

namespace testing {
// Replaces the final exit of the process. The replacement must not return (tests throw).
using ProcessExit = void (*)(int status);
void ReplaceProcessExit(ProcessExit exit);
}  // namespace testing

}  // namespace clickburst::runtime
