// wlroots compositors (sway, Hyprland, river, labwc, Wayfire, niri): a zwlr_virtual_pointer_v1
// on the default seat. Each event is a button request and a frame; the compositor delivers it
// to the surface under the seat's cursor, as from a real mouse, and the cursor is never read
// or moved. wlroots (0.15) forwards a button request as soon as it reads it and, when a
// virtual pointer goes away, releases nothing: a press whose release never came would stay
// down in the seat. So the press stays in libwayland's buffer and goes out with the release
// in one flush.
#include <cstdint>

#include "input/left_button.h"
#include "input/wayland_compositor.h"
#include "runtime/clock.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace clickburst::input {
namespace {

zwlr_virtual_pointer_v1* g_pointer = nullptr;

void VirtualPointerLeftButton(bool pressed) {
  zwlr_virtual_pointer_v1_button(
      g_pointer, static_cast<std::uint32_t>(runtime::MonotonicMs()), kLinuxButtonLeft,
      pressed ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
  zwlr_virtual_pointer_v1_frame(g_pointer);
  if (!pressed) {
    FlushToCompositor();
  }
}

}  // namespace

LeftButtonRoutine OpenVirtualPointer() {
  auto* manager =
      BindGlobal<zwlr_virtual_pointer_manager_v1>(zwlr_virtual_pointer_manager_v1_interface, 1);
  if (manager == nullptr) {
    return nullptr;
  }
  // No seat given: the compositor's default seat, the one its cursor belongs to.
  g_pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, nullptr);
  FlushToCompositor();
  return &VirtualPointerLeftButton;
}

}  // namespace clickburst::input
