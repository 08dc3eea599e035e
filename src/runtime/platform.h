// The platform backend of the run-time layer: exactly one implementation is built
// (platform_win32.cpp or platform_fltk.cpp). Everything here runs on the UI thread.
#pragma once

#include <string_view>

#include "runtime/driver.h"

namespace clickburst::runtime {

// Opens the display and returns the platform's event-loop driver, alive for the whole
// process. Without a display this is a fatal error (kExitNoDisplay).
Driver& OpenPlatformDriver();

// Sends what is buffered for the display; a no-op while no display is open.
void FlushDisplayOutput();

// Shows a modal error dialog over the program's window and waits until it is dismissed.
// Returns false, showing nothing, while no display is open (as in unit tests).
bool ShowErrorDialog(std::string_view title, std::string_view message);

}  // namespace clickburst::runtime
