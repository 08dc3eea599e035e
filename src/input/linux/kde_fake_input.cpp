// KDE Plasma (KWin 5.27, Plasma 6): org_kde_kwin_fake_input.
// - KWin advertises it only to a program whose executable is the absolute Exec= of an installed
//   desktop entry that names the interface in X-KDE-Wayland-Interfaces (compared with the
//   resolved /proc/PID/exe);
// - it acts on buttons only once it has accepted authenticate, which has no answer: KWin 5.27
//   and Plasma 6 accept it without asking anyone, but nothing here can confirm that one did;
// - a button acts at the seat's cursor, which is never read or moved; KWin acts on each request
//   as it reads it, so a click's press and release go out in one flush.
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "fake-input-client-protocol.h"
#include "input/linux/shared/wayland_compositor.h"
#include "input/linux/ways_in.h"

namespace clickburst::input {
namespace {

// Globals only KWin offers, to every client: how a refused fake input is told from a
// compositor that has none.
constexpr std::array<const char*, 3> kKWinOnlyGlobals = {
    "kde_output_device_v2", "org_kde_plasma_virtual_desktop_management",
    "org_kde_kwin_dpms_manager"};

org_kde_kwin_fake_input* g_fake_input = nullptr;

void FakeInputClick(bool with_press) {
  if (with_press) {
    org_kde_kwin_fake_input_button(g_fake_input, kLinuxButtonLeft, WL_POINTER_BUTTON_STATE_PRESSED);
  }
  org_kde_kwin_fake_input_button(g_fake_input, kLinuxButtonLeft, WL_POINTER_BUTTON_STATE_RELEASED);
  FlushToCompositor();
}

// KWin's fake input is offered only to an installed program, which KWin knows by its resolved
// path: this one's is printed, to compare with the Exec= of the installed entry.
std::string NotInstalled() {
  char path[PATH_MAX];
  const char* resolved = realpath("/proc/self/exe", path);
  return std::string("KWin gives its fake input only to an installed clickburst, and this one (") +
         (resolved != nullptr ? resolved : "its path unknown") +
         ") is not the Exec= of an installed launcher entry: install it with "
         "`cmake --install build/program --prefix ~/.local` or the .deb, and start that one, so "
         "that KWin lets it click every window";
}

bool IsKWin() {
  for (const char* global : kKWinOnlyGlobals) {
    if (CompositorAdvertises(global)) {
      return true;
    }
  }
  return false;
}

}  // namespace

WayIn OpenKdeFakeInput(const SetUp& set_up) {
  // Version 1 has all that is used: authenticate and button.
  g_fake_input = BindGlobal<org_kde_kwin_fake_input>(org_kde_kwin_fake_input_interface, 1);
  if (g_fake_input == nullptr) {
    return IsKWin() ? Refusal(Answer::kRefused, NotInstalled()) : WayIn{};
  }
  org_kde_kwin_fake_input_authenticate(g_fake_input, "clickburst",
                                       std::string(set_up.what_clicks).c_str());
  // After the roundtrip KWin has read authenticate and made its fake pointer device before the
  // first click tick, so the seat has it; whether it accepted cannot be told.
  if (const int error = RoundtripToCompositor(set_up.deadline); error != 0) {
    g_fake_input = nullptr;
    return error == ETIME
               ? Refusal(Answer::kTimedOut, SetUpOverrun("KWin, asked for its fake input,"))
               : Refusal(Answer::kRefused,
                         "KWin ended the connection when clickburst asked for its "
                         "fake input");
  }
  WayIn way_in = Clicks(&FakeInputClick, &EndCompositorInput);
  way_in.keeps_compositor = true;
  return way_in;
}

}  // namespace clickburst::input
