// wlroots compositors (sway, Hyprland, river, labwc, Wayfire, niri): a zwlr_virtual_pointer_v1
// on the default seat, through a Wayland connection of its own. Each event is a button
// request and a frame; the compositor delivers it to the surface under the seat's cursor, as
// from a real mouse, and the cursor is never read or moved. wlroots (0.15) forwards a button
// request as soon as it reads it and, when a virtual pointer goes away, releases nothing:
// a press whose release never came would stay down in the seat. So the press stays in
// libwayland's buffer and goes out with the release in one flush.
#include <wayland-client.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "input/left_button.h"
#include "runtime/end_program.h"
#include "runtime/fatal_error.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace clickburst::input {
namespace {

constexpr std::uint32_t kLinuxButtonLeft = 0x110;  // BTN_LEFT of linux/input-event-codes.h

struct Compositor {
  wl_display* display = nullptr;
  wl_registry* registry = nullptr;
  zwlr_virtual_pointer_manager_v1* manager = nullptr;
};

void OnGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
              std::uint32_t /*version*/) {
  auto* compositor = static_cast<Compositor*>(data);
  if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
    compositor->manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
        wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
  }
}

void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}

constexpr wl_registry_listener kRegistryListener = {&OnGlobal, &OnGlobalRemove};

// Connects to the compositor WAYLAND_DISPLAY names and learns its globals; false if none.
bool Connect(Compositor& compositor) {
  compositor.display = wl_display_connect(nullptr);
  if (compositor.display == nullptr) {
    return false;
  }
  compositor.registry = wl_display_get_registry(compositor.display);
  wl_registry_add_listener(compositor.registry, &kRegistryListener, &compositor);
  return wl_display_roundtrip(compositor.display) >= 0;
}

void Disconnect(Compositor& compositor) {
  if (compositor.manager != nullptr) {
    zwlr_virtual_pointer_manager_v1_destroy(compositor.manager);
  }
  if (compositor.registry != nullptr) {
    wl_registry_destroy(compositor.registry);
  }
  if (compositor.display != nullptr) {
    wl_display_disconnect(compositor.display);
  }
  compositor = {};
}

Compositor g_compositor;
zwlr_virtual_pointer_v1* g_pointer = nullptr;

// Milliseconds of CLOCK_MONOTONIC, the clock evdev stamps real input with.
std::uint32_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1'000'000);
}

void VirtualPointerLeftButton(bool pressed) {
  zwlr_virtual_pointer_v1_button(
      g_pointer, NowMs(), kLinuxButtonLeft,
      pressed ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
  zwlr_virtual_pointer_v1_frame(g_pointer);
  if (!pressed && wl_display_flush(g_compositor.display) < 0 && errno != EAGAIN) {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    runtime::RaiseFatalError(std::string("lost the connection to the Wayland compositor \"") +
                                 (name != nullptr ? name : "") + "\" (" + std::strerror(errno) +
                                 ")",
                             runtime::kExitNoDisplay);
  }
}

}  // namespace

LeftButtonRoutine OpenVirtualPointer() {
  if (!Connect(g_compositor) || g_compositor.manager == nullptr) {
    Disconnect(g_compositor);
    return nullptr;
  }
  // No seat given: the compositor's default seat, the one its cursor belongs to.
  g_pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(g_compositor.manager, nullptr);
  return &VirtualPointerLeftButton;
}

bool CompositorOffersVirtualPointer() {
  Compositor probe;
  const bool offered = Connect(probe) && probe.manager != nullptr;
  Disconnect(probe);
  return offered;
}

}  // namespace clickburst::input
