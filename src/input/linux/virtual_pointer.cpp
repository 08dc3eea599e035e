// wlroots compositors (sway, Hyprland, river, labwc, Wayfire, niri): a zwlr_virtual_pointer_v1
// on the default seat. Each event is a button request and a frame; the compositor delivers it
// to the surface under the seat's cursor, as from a real mouse, and the cursor is never read
// or moved. wlroots forwards a button request as soon as it reads it and, when a virtual
// pointer goes away, releases nothing: so a click's press and release go out in one flush.
#include <cstdint>

#include "input/linux/shared/wayland_compositor.h"
#include "input/linux/ways_in.h"
#include "runtime/clock.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace clickburst::input {
namespace {

zwlr_virtual_pointer_v1* g_pointer = nullptr;

void SendButton(wl_pointer_button_state state) {
  zwlr_virtual_pointer_v1_button(g_pointer, static_cast<std::uint32_t>(runtime::MonotonicMs()),
                                 kLinuxButtonLeft, state);
  zwlr_virtual_pointer_v1_frame(g_pointer);
}

void VirtualPointerClick(bool with_press) {
  if (with_press) {
    SendButton(WL_POINTER_BUTTON_STATE_PRESSED);
  }
  SendButton(WL_POINTER_BUTTON_STATE_RELEASED);
  FlushToCompositor();
}

}  // namespace

WayIn OpenVirtualPointer(const SetUp& set_up) {
  auto* manager =
      BindGlobal<zwlr_virtual_pointer_manager_v1>(zwlr_virtual_pointer_manager_v1_interface, 1);
  if (manager == nullptr) {
    return {};
  }
  // No seat given: the compositor's default seat, the one its cursor belongs to. A compositor
  // that does not take it by the deadline is a refusal, not yet a lost connection.
  g_pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, nullptr);
  if (const int error = RoundtripToCompositor(set_up.deadline); error != 0) {
    return Refusal(error == ETIME ? Answer::kTimedOut : Answer::kRefused,
                   SetUpFailure(error, "the compositor, asked for a virtual pointer,"));
  }
  WayIn way_in = Clicks(&VirtualPointerClick, &EndCompositorInput);
  way_in.keeps_compositor = true;
  return way_in;
}

}  // namespace clickburst::input
