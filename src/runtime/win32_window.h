// Hands the program's window to the Win32 driver: its messages go through IsDialogMessage
// (Tab, Alt+S, Space, Enter), it owns error dialogs, and once it is destroyed the event loop
// ends and with it the program.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace clickburst::runtime {

void AdoptStartupWindow(HWND window);

// UTF-8 (the texts of the layout table and of error reports) to the UTF-16 of the W calls.
std::wstring Widen(std::string_view utf8);

}  // namespace clickburst::runtime
