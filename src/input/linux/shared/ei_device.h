// The libei device behind the ways in that hand the program an EIS socket: KWin's own emulated
// input (kwin_emulated_input.cpp) and the desktop's remote-desktop portal
// (remote_desktop_portal.cpp). libei.so.1 is bound by name, as Debian 12 has none. UI thread
// only.
//
// Usage: if (LoadLibei(why)) { why = StartEmulatedInput(fd, "KWin", deadline, bus); }
#pragma once

#include <optional>
#include <string>

#include "runtime/clock.h"

namespace clickburst::input {

class SessionBus;

// Binds libei.so.1; false, with why in the notice's words (the package to install among them),
// where this system cannot load it.
bool LoadLibei(std::string& why);

// A sender context on `eis_fd` (taken), for the desktop named `desktop` in the messages, whose
// notices go to `bus` too. With a `deadline`, waits until the desktop resumes the device, and
// returns why not in the notice's words (empty: resumed); without, the device resumes later,
// while the event loop runs. Once started, the socket is watched: the connection lost is a
// fatal error, and the device taken away after it was resumed ends the program.
std::string StartEmulatedInput(int eis_fd, const char* desktop,
                               std::optional<runtime::Instant> deadline, SessionBus* bus);

// Whether the desktop has resumed the device: until then a click sends nothing.
bool EmulatedInputResumed();

// The click routine (way_in.h).
void EmulatedClick(bool with_press);

// The end of the device's input: what the desktop has not taken yet goes within the bound, then
// the socket closes, which makes the desktop take the device away. Also what a failed start
// leaves is let go.
void EndEmulatedInput();

}  // namespace clickburst::input
