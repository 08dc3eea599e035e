// The libei device (left_button_ei.cpp) behind the ways in that hand the program an EIS socket:
// KWin's own emulated input, and the desktop's remote-desktop portal (left_button_portal.cpp).
// libei.so.1 is bound by name, as Debian 12 has none. UI thread only.
//
// Usage: if (LoadLibei(why)) { why = StartEmulatedInput(fd, "KWin", deadline); }
#pragma once

#include <optional>
#include <string>

#include "runtime/clock.h"

namespace clickburst::input {

// Binds libei.so.1; false, with why in the notice's words, where this system cannot load it.
bool LoadLibei(std::string& why);

// A sender context on `eis_fd` (taken), for the desktop named `giver` in the messages. With a
// `deadline`, waits until the desktop resumes the device, and returns why not in the notice's
// words (empty: resumed); without, the device resumes later, while the event loop runs. Once
// started, the socket is watched: the connection lost is a fatal error, and the device taken
// away after it was resumed ends the program.
std::string StartEmulatedInput(int eis_fd, const char* giver,
                               std::optional<runtime::Instant> deadline);

// The click routine: nothing is sent while the device is not resumed.
void EmulatedLeftButton(bool pressed);

// The end of the device's input: what the desktop has not taken yet goes within the bound, then
// the socket closes, which makes the desktop take the device away. A pending press is dropped.
// Also what a failed start leaves is let go.
void EndEmulatedInput();

}  // namespace clickburst::input
