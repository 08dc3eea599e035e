// The one connection to the Wayland compositor that WAYLAND_DISPLAY names, for the click
// backends that speak a Wayland protocol (wlroots virtual pointer, KDE fake input). It is made
// once, when the window is shown, with one registry roundtrip that lists the compositor's
// globals; the backend that clicks binds its global from it and keeps the connection for the
// whole process. UI thread only.
//
// Usage: if (ConnectToCompositor()) { auto* m = BindGlobal<T>(t_interface, 1); ... }
#pragma once

#include <wayland-client.h>

#include <cstdint>

namespace clickburst::input {

// Connects and lists the globals; false, keeping nothing, where there is no compositor.
bool ConnectToCompositor();

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

// Waits until the compositor has answered everything sent so far; during set-up only, never
// inside a click tick. False if the connection failed.
bool RoundtripToCompositor();

// Sends everything buffered, the press and release of a click together. Where the socket is
// full it waits for room, at most kCompositorFlushWaitMs. A protocol error the compositor
// reported, a lost connection or a compositor that takes no data for that long is a fatal
// error with status 69 (kExitNoDisplay).
void FlushToCompositor();

inline constexpr int kCompositorFlushWaitMs = 500;

}  // namespace clickburst::input
