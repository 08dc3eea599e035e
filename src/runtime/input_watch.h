// Linux: a connection the event loop watches beside the display's, for a way in whose peer may
// speak while the program waits (the desktop ending a remote-desktop session). The callback runs
// on the UI thread from inside the driver's wait, like any other input. Implemented by the
// FLTK driver (platform_fltk.cpp).
//
// Usage: WatchReadable(sd_bus_get_fd(bus), &OnBusReadable);
#pragma once

namespace clickburst::runtime {

void WatchReadable(int fd, void (*on_readable)());

// Ends the watch, before the connection closes (its fd would be reported readable forever).
void UnwatchReadable(int fd);

}  // namespace clickburst::runtime
