// receiver_wayland: the native Wayland receiver (receiver_log.h). One xdg-shell toplevel,
// titled and with app id "clickburst-receiver", filled with a flat colour, that logs the
// seat's pointer events with the receivers' clock when each is dispatched (wl_pointer's own time
// is whole milliseconds). Motion is in surface coordinates; entering the surface is not a
// move. The compositor places it: --geometry is not honoured. "ready" follows the first frame
// shown. Ends on SIGTERM or SIGINT, after --seconds, or when the compositor goes away.
//
// Usage: WAYLAND_DISPLAY=wayland-1 receiver_wayland [--seconds S]
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "receiver_posix.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace {

using namespace clickburst::receiver;

constexpr std::uint32_t kButtonLeft = 0x110;  // BTN_LEFT, BTN_RIGHT, BTN_MIDDLE of evdev
constexpr std::uint32_t kButtonRight = 0x111;
constexpr std::uint32_t kButtonMiddle = 0x112;

struct Receiver {
  wl_compositor* compositor = nullptr;
  wl_shm* shm = nullptr;
  wl_seat* seat = nullptr;
  xdg_wm_base* wm_base = nullptr;
  zwlr_virtual_pointer_manager_v1* virtual_pointers = nullptr;
  wl_surface* surface = nullptr;
  wl_pointer* pointer = nullptr;
  bool configured = false;  // a configure is acknowledged and wants a matching buffer
  bool shown = false;
  int width = 640;
  int height = 480;
  MotionLog motion;
};

void OnGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
              std::uint32_t) {
  auto* r = static_cast<Receiver*>(data);
  auto bind = [&](const wl_interface* wanted, std::uint32_t version) {
    return wl_registry_bind(registry, name, wanted, version);
  };
  if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
    r->compositor = static_cast<wl_compositor*>(bind(&wl_compositor_interface, 4));
  } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
    r->shm = static_cast<wl_shm*>(bind(&wl_shm_interface, 1));
  } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && r->seat == nullptr) {
    r->seat = static_cast<wl_seat*>(bind(&wl_seat_interface, 5));
  } else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0) {
    r->wm_base = static_cast<xdg_wm_base*>(bind(&xdg_wm_base_interface, 1));
  } else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
    r->virtual_pointers = static_cast<zwlr_virtual_pointer_manager_v1*>(
        bind(&zwlr_virtual_pointer_manager_v1_interface, 1));
  }
}
void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener kRegistryListener = {&OnGlobal, &OnGlobalRemove};

void OnPing(void*, xdg_wm_base* wm_base, std::uint32_t serial) {
  xdg_wm_base_pong(wm_base, serial);
}
const xdg_wm_base_listener kWmBaseListener = {&OnPing};

void OnToplevelConfigure(void* data, xdg_toplevel*, std::int32_t width, std::int32_t height,
                         wl_array*) {
  auto* r = static_cast<Receiver*>(data);
  if (width > 0 && height > 0) {
    r->width = width;
    r->height = height;
  }
}
void OnToplevelClose(void*, xdg_toplevel*) { OnStopSignal(0); }
// Bound at version 1: the later events never come.
const xdg_toplevel_listener kToplevelListener = {&OnToplevelConfigure, &OnToplevelClose, nullptr,
                                                 nullptr};

void OnSurfaceConfigure(void* data, xdg_surface* xdg, std::uint32_t serial) {
  xdg_surface_ack_configure(xdg, serial);
  static_cast<Receiver*>(data)->configured = true;
}
const xdg_surface_listener kSurfaceListener = {&OnSurfaceConfigure};

// A buffer of one flat colour, in an unnamed temporary file the compositor maps.
wl_buffer* FlatBuffer(wl_shm* shm, int width, int height) {
  const int stride = width * 4;
  const int size = stride * height;
  FILE* file = std::tmpfile();
  if (file == nullptr || ftruncate(fileno(file), size) != 0) {
    return nullptr;
  }
  void* pixels =
      mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fileno(file), 0);
  if (pixels == MAP_FAILED) {
    return nullptr;
  }
  auto* words = static_cast<std::uint32_t*>(pixels);
  for (int i = 0; i < width * height; ++i) {
    words[i] = 0xff404a58;  // the X11 receiver's slate
  }
  munmap(pixels, static_cast<size_t>(size));
  wl_shm_pool* pool = wl_shm_create_pool(shm, fileno(file), size);
  wl_buffer* buffer =
      wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
  wl_shm_pool_destroy(pool);
  std::fclose(file);
  return buffer;
}

void OnFrameDone(void* data, wl_callback* callback, std::uint32_t) {
  wl_callback_destroy(callback);
  static_cast<Receiver*>(data)->shown = true;
}
const wl_callback_listener kFrameListener = {&OnFrameDone};

// Fills the surface at the size last configured; the first frame shown sets `shown`.
void Redraw(Receiver& r) {
  if (!r.configured) {
    return;
  }
  r.configured = false;
  wl_buffer* buffer = FlatBuffer(r.shm, r.width, r.height);
  if (buffer == nullptr) {
    std::perror("receiver_wayland: buffer");
    std::exit(1);
  }
  wl_surface_attach(r.surface, buffer, 0, 0);
  wl_surface_damage(r.surface, 0, 0, r.width, r.height);
  if (!r.shown) {
    wl_callback_add_listener(wl_surface_frame(r.surface), &kFrameListener, &r);
  }
  wl_surface_commit(r.surface);
  wl_buffer_destroy(buffer);  // the compositor keeps its own reference until it lets go
}

int ToPixels(wl_fixed_t value) { return wl_fixed_to_int(value); }

void OnEnter(void* data, wl_pointer*, std::uint32_t, wl_surface*, wl_fixed_t x, wl_fixed_t y) {
  static_cast<Receiver*>(data)->motion.Known(ToPixels(x), ToPixels(y));
}
void OnLeave(void*, wl_pointer*, std::uint32_t, wl_surface*) {}
void OnMotion(void* data, wl_pointer*, std::uint32_t, wl_fixed_t x, wl_fixed_t y) {
  static_cast<Receiver*>(data)->motion.At(ToPixels(x), ToPixels(y), MonotonicNs());
}
void OnButton(void*, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t button,
              std::uint32_t state) {
  LogButton(button == kButtonLeft     ? 1
            : button == kButtonMiddle ? 2
            : button == kButtonRight  ? 3
                                      : 0,
            state == WL_POINTER_BUTTON_STATE_PRESSED, MonotonicNs());
}
void OnAxis(void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {}
void OnFrame(void*, wl_pointer*) {}
void OnAxisSource(void*, wl_pointer*, std::uint32_t) {}
void OnAxisStop(void*, wl_pointer*, std::uint32_t, std::uint32_t) {}
void OnAxisDiscrete(void*, wl_pointer*, std::uint32_t, std::int32_t) {}
// The seat is bound at version 5, so the events libwayland's listener gained later (axis_value120
// in version 8, axis_relative_direction in 9: Debian 12 and 13 list different ones) never come
// and stay null; members set by name build with either.
constexpr wl_pointer_listener PointerListener() {
  wl_pointer_listener listener{};
  listener.enter = &OnEnter;
  listener.leave = &OnLeave;
  listener.motion = &OnMotion;
  listener.button = &OnButton;
  listener.axis = &OnAxis;
  listener.frame = &OnFrame;
  listener.axis_source = &OnAxisSource;
  listener.axis_stop = &OnAxisStop;
  listener.axis_discrete = &OnAxisDiscrete;
  return listener;
}
constexpr wl_pointer_listener kPointerListener = PointerListener();

// A virtual pointer appears after the receiver started: take the pointer when it comes.
void OnCapabilities(void* data, wl_seat* seat, std::uint32_t capabilities) {
  auto* r = static_cast<Receiver*>(data);
  if ((capabilities & WL_SEAT_CAPABILITY_POINTER) != 0 && r->pointer == nullptr) {
    r->pointer = wl_seat_get_pointer(seat);
    wl_pointer_add_listener(r->pointer, &kPointerListener, r);
  }
}
void OnSeatName(void*, wl_seat*, const char*) {}
const wl_seat_listener kSeatListener = {&OnCapabilities, &OnSeatName};

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "receiver_wayland: cannot connect to the Wayland compositor\n");
    return 69;
  }
  StopOnSignals();

  Receiver r;
  wl_registry_add_listener(wl_display_get_registry(display), &kRegistryListener, &r);
  wl_display_roundtrip(display);
  if (r.compositor == nullptr || r.shm == nullptr || r.seat == nullptr || r.wm_base == nullptr) {
    std::fprintf(stderr, "receiver_wayland: the compositor lacks a global it needs\n");
    return 1;
  }
  // A headless compositor has no mouse, and a seat without a pointer device gives no client a
  // pointer. An idle virtual pointer stands in for the user's mouse, so that the cursor can be
  // parked (swaymsg seat seat0 cursor set X Y) before the program under test makes its own.
  if (r.virtual_pointers != nullptr) {
    zwlr_virtual_pointer_manager_v1_create_virtual_pointer(r.virtual_pointers, nullptr);
  }
  xdg_wm_base_add_listener(r.wm_base, &kWmBaseListener, &r);
  wl_seat_add_listener(r.seat, &kSeatListener, &r);
  r.surface = wl_compositor_create_surface(r.compositor);
  xdg_surface* xdg = xdg_wm_base_get_xdg_surface(r.wm_base, r.surface);
  xdg_surface_add_listener(xdg, &kSurfaceListener, &r);
  xdg_toplevel* toplevel = xdg_surface_get_toplevel(xdg);
  xdg_toplevel_add_listener(toplevel, &kToplevelListener, &r);
  xdg_toplevel_set_title(toplevel, "clickburst test receiver");
  xdg_toplevel_set_app_id(toplevel, "clickburst-receiver");
  wl_surface_commit(r.surface);
  while (!r.shown && wl_display_dispatch(display) >= 0) {
    Redraw(r);
  }
  LogReady();

  const int connection = wl_display_get_fd(display);
  return Serve(connection, options, 0, [&] {
    // Reads what has come, without waiting: Serve() waits.
    while (wl_display_prepare_read(display) != 0) {
      wl_display_dispatch_pending(display);
    }
    pollfd readable{connection, POLLIN, 0};
    if (poll(&readable, 1, 0) > 0) {
      wl_display_read_events(display);
    } else {
      wl_display_cancel_read(display);
    }
    const bool alive = wl_display_dispatch_pending(display) >= 0;
    Redraw(r);
    return alive && wl_display_flush(display) >= 0;
  });
}
