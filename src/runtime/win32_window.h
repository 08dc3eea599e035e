// Hands the program's window to the Win32 driver: its messages go through IsDialogMessage
// (Tab, Alt+S, Space, Enter), it owns error dialogs, and once it is destroyed the event loop
// ends and with it the program.
#pragma once

#include <windows.h>

namespace clickburst::runtime {

void AdoptStartupWindow(HWND window);

}  // namespace clickburst::runtime
