// The X display connection opened by the Linux driver, for backends that talk to the X
// server directly (click injection). Null until OpenPlatformDriver() has run.
#pragma once

#include <X11/Xlib.h>

namespace clickburst::runtime {

Display* OpenedX11Display();

}  // namespace clickburst::runtime
