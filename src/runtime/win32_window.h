// What the Win32 run-time layer shares with the program's window: the window is handed to the
// driver, which then lets it see each queued message first (its dialog navigation: Tab, Alt+S,
// Space, Enter) and makes it the owner of error dialogs; closing it posts WM_QUIT, which ends
// the event loop and with it the program. Also the W calls' UTF-16, and routines that a
// Windows version may lack, looked up by name. UI thread only.
//
// Usage: AdoptStartupWindow(window, [window](MSG& m) { return IsDialogMessageW(window, &m); });
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

namespace clickburst::runtime {

// Sees a queued message before the loop translates and dispatches it; true when it has
// handled the message itself.
using MessageFilter = std::function<bool(MSG&)>;

void AdoptStartupWindow(HWND window, MessageFilter filter);

// UTF-8 (the texts of the layout table and of error reports) to the UTF-16 of the W calls.
std::wstring Widen(std::string_view utf8);

// Sets `routine` to `name` in `module`, typed as the caller declared it, or to null when the
// module has no such routine (one newer than the system). True when it was found.
template <class Routine>
bool FindRoutine(HMODULE module, const char* name, Routine*& routine) {
  // FARPROC takes the caller's type only through a cast; going by void (*)() keeps GCC's
  // -Wcast-function-type quiet.
  routine =
      module == nullptr
          ? nullptr
          : reinterpret_cast<Routine*>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
  return routine != nullptr;
}

}  // namespace clickburst::runtime
