// What the user is told of the ways in: on standard error, and as a desktop notification
// (org.freedesktop.Notifications) on the session bus, since a program started from the
// desktop's launcher has no terminal. The notification is sent without waiting for its reply;
// without a bus or a notification server only standard error has it. UI thread only.
//
// Usage: Notice("the desktop's dialog was refused, so ...", set_up.bus);
#pragma once

#include <string_view>

namespace clickburst::input {

class SessionBus;

// `text` is one sentence, without the program's name or a line end; `bus` may be null or closed.
void Notice(std::string_view text, SessionBus* bus);

}  // namespace clickburst::input
