// The one connection to the Wayland compositor that WAYLAND_DISPLAY names:
// - made once, when the window is shown, with one registry roundtrip that lists its globals;
// - the way in that speaks a Wayland protocol (wlroots virtual pointer, KDE fake input) binds
//   its global from it and keeps it for the whole process; the others only ask who listens;
// - every wait at set-up ends at the set-up's deadline.
// UI thread only.
//
// Usage: if (ConnectToCompositor(deadline, failure)) { auto* m = BindGlobal<T>(t_interface, 1); ...
// }
#pragma once

#include <wayland-client.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/clock.h"

namespace clickburst::input {

// Connects and lists the globals; false, keeping nothing and with `failure` saying why, where
// no compositor answers by `deadline`.
bool ConnectToCompositor(runtime::Instant deadline, std::string& failure);

// The process at the other end of the connection (SO_PEERCRED); 0 while not connected.
std::uint32_t CompositorProcessId();

// Whether process `pid` is this session's compositor, which listens as `listener_pid`: that
// process itself, or its child (a login starts KWin through kwin_wayland_wrapper, which listens
// and runs kwin_wayland, the owner of KWin's bus names). A `listener_pid` of 0 matches nothing.
bool IsCompositorProcess(std::uint32_t pid, std::uint32_t listener_pid);

// Ends the connection, as when no way in uses it.
void DisconnectFromCompositor();

// The end of input of a way in that clicks over the connection (end_program.h): what is
// buffered goes out within the bound, then the connection closes.
void EndCompositorInput();

// Binds the global that offers `interface` at `version` (at most what it advertises);
// nullptr where the compositor does not advertise it to this client.
void* BindCompositorGlobal(const wl_interface& interface, std::uint32_t version);

// Whether the compositor advertises a global named `interface` to this client; binds nothing.
bool CompositorAdvertises(const char* interface);

template <class Proxy>
Proxy* BindGlobal(const wl_interface& interface, std::uint32_t version) {
  return static_cast<Proxy*>(BindCompositorGlobal(interface, version));
}

// Waits until the compositor has answered everything sent so far, at most until `deadline`;
// during set-up only, never inside a click tick. 0, ETIME, or the errno that ended the
// connection.
int RoundtripToCompositor(runtime::Instant deadline);

// The words for what RoundtripToCompositor returned, asked of `whom` (not 0).
std::string SetUpFailure(int error, std::string_view whom);

// Sends everything buffered, the press and release of a click together. Where the socket is
// full it waits for room, at most runtime::kSocketRoomWait. A lost connection (named by the
// protocol error the compositor sent before it closed, if it sent one) or a compositor that
// takes no data for that long is a fatal error with status 69 (kExitNoDisplay).
void FlushToCompositor();

}  // namespace clickburst::input
