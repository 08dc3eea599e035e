// KDE Plasma (KWin 5.27, Plasma 6): org_kde_kwin_fake_input. KWin advertises it only to a
// program whose executable is the absolute Exec= of an installed desktop entry that names the
// interface in X-KDE-Wayland-Interfaces, and acts on its buttons only once it has sent
// authenticate, which KWin grants without asking anyone. A button acts at the seat's cursor,
// which is never read or moved. KWin acts on each request as it reads it, so the press stays
// in libwayland's buffer and goes out with the release in one flush.
#include <array>

#include "fake-input-client-protocol.h"
#include "input/left_button.h"
#include "input/wayland_compositor.h"

namespace clickburst::input {
namespace {

// Globals only KWin offers, to every client: how a refused fake input is told from a
// compositor that has none.
constexpr std::array<const char*, 3> kKWinOnlyGlobals = {
    "kde_output_device_v2", "org_kde_plasma_virtual_desktop_management",
    "org_kde_kwin_dpms_manager"};

constexpr const char* kNotInstalled =
    "KWin gives its fake input only to an installed clickburst (install it with "
    "`cmake --install build/linux --prefix ~/.local` or the .deb, and start that one, so that "
    "KWin lets it click every window)";

org_kde_kwin_fake_input* g_fake_input = nullptr;

void FakeInputLeftButton(bool pressed) {
  org_kde_kwin_fake_input_button(
      g_fake_input, kLinuxButtonLeft,
      pressed ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
  if (!pressed) {
    FlushToCompositor();
  }
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

LeftButtonRoutine OpenFakeInput(std::string& refusal) {
  // Version 1 has all that is used: authenticate and button.
  g_fake_input = BindGlobal<org_kde_kwin_fake_input>(org_kde_kwin_fake_input_interface, 1);
  if (g_fake_input == nullptr) {
    if (IsKWin()) {
      refusal = kNotInstalled;
    }
    return nullptr;
  }
  org_kde_kwin_fake_input_authenticate(
      g_fake_input, "clickburst",
      "clicks the left mouse button at the pointer, every 60 ms for 27 s after Start");
  // KWin has made the fake pointer device before the first click tick, so the seat has it.
  if (!RoundtripToCompositor()) {
    refusal = "KWin ended the connection when clickburst asked for its fake input";
    g_fake_input = nullptr;
    return nullptr;
  }
  return &FakeInputLeftButton;
}

}  // namespace clickburst::input
