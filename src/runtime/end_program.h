// The end of the program: ends the click backend's input and flushes what is pending to the
// display (so the last click is delivered), then ends the process at once. No further event is
// delivered and no handler runs. Exit statuses are fixed here, one table for the whole program.
#pragma once

namespace clickburst::runtime {

inline constexpr int kExitEnded = 0;          // EndProgram, or the window was closed
inline constexpr int kExitRunTimeError = 70;  // a run-time error was reported (EX_SOFTWARE)
inline constexpr int kExitNoDisplay = 69;     // no display, or a connection lost (EX_UNAVAILABLE)

[[noreturn]] void EndProgram();

// Ends the process with `status` after ending the click input and flushing the display and
// standard streams.
[[noreturn]] void ExitProcessWith(int status);

// The click backend's end of input, run once, first on every way out (the end, the window
// closed, a fatal error before its report): a release still queued reaches the server within a
// bounded wait, what could not be sent is dropped, and its connection is no longer watched.
// `end` must wait a bounded time and never raise an error: the process is already ending.
void SetClickInputEnd(void (*end)());

// Runs the click backend's end of input now, if it has not run yet.
void EndClickInput();

// Whether the click input has ended: no click may be sent after it, not even from a tick that
// a modal loop still delivers (Windows runs the timers inside its dialogs).
bool ClickInputEnded();

namespace testing {
// Replaces the final exit of the process. The replacement must not return (tests throw).
using ProcessExit = void (*)(int status);
void ReplaceProcessExit(ProcessExit exit);
}  // namespace testing

}  // namespace clickburst::runtime
