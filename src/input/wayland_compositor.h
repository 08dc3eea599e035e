// The one connection to the Wayland compositor that WAYLAND_DISPLAY names, for the click
// backends that speak a Wayland protocol (wlroots virtual pointer, KDE fake input). It is made
// once, when the window is shown, with one registry roundtrip that lists the compositor's
// globals; the backend that clicks binds its global from it and keeps the connection for the
// whole process. Every wait at set-up ends at the set-up's deadline. UI thread only.
//
// Usage: if (ConnectToCompositor(deadline, failure)) { auto* m = BindGlobal<T>(t_interface, 1); ...
// }
#pragma once

#include <wayland-client.h>

#include <cstdint>
#include <string>

#include "runtime/clock.h"

namespace clickburst::input {

// Connects and lists the globals; false, keeping nothing and with `failure` saying why, where
// no compositor answers by `deadline`. Once connected, the connection's end of input is the
// click input's (end_program.h): what is buffered goes out within a bound, then it closes.
bool ConnectToCompositor(runtime::Instant deadline, std::string& failure);

// The process at the other end of the connection (SO_PEERCRED); 0 while not connected.
std::uint32_t CompositorProcessId();

// Ends the connection, as when no backend uses it.
void DisconnectFromCompositor();

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

// Sends everything buffered, the press and release of a click together. Where the socket is
// full it waits for room, at most runtime::kSocketRoomWait. A lost connection (named by the
// protocol error the compositor sent before it closed, if it sent one) or a compositor that
// takes no data for that long is a fatal error with status 69 (kExitNoDisplay).
void FlushToCompositor();

}  // namespace clickburst::input
