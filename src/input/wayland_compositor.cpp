#include "input/wayland_compositor.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/end_program.h"
#include "runtime/fatal_error.h"

namespace clickburst::input {
namespace {

struct Global {
  std::uint32_t name;
  std::string interface;
  std::uint32_t version;
};

wl_display* g_display = nullptr;
wl_registry* g_registry = nullptr;
std::vector<Global> g_globals;

void OnGlobal(void*, wl_registry*, std::uint32_t name, const char* interface,
              std::uint32_t version) {
  g_globals.push_back({name, interface, version});
}

void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}

constexpr wl_registry_listener kRegistryListener = {&OnGlobal, &OnGlobalRemove};

const Global* FindGlobal(std::string_view interface) {
  const auto found = std::ranges::find(g_globals, interface, &Global::interface);
  return found != g_globals.end() ? &*found : nullptr;
}

std::string CompositorName() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  return std::string("the Wayland compositor \"") + (name != nullptr ? name : "") + "\"";
}

// Why the connection failed: libwayland keeps a fatal error once it has one, and from then on
// drops every request and may answer a flush with EAGAIN as if the socket were only full.
std::string ConnectionError(int error) {
  if (error == EPROTO && wl_display_get_error(g_display) == EPROTO) {
    const wl_interface* interface = nullptr;
    std::uint32_t id = 0;
    const std::uint32_t code = wl_display_get_protocol_error(g_display, &interface, &id);
    return CompositorName() + " ended the connection with protocol error " + std::to_string(code) +
           " on " + (interface != nullptr ? interface->name : "an object");
  }
  return "lost the connection to " + CompositorName() + " (" + std::strerror(error) + ")";
}

std::int64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1'000'000;
}

// 0 once everything is sent, else the errno that stopped it (ETIME: no room in time).
int FlushWithin(int wait_ms) {
  const std::int64_t until = NowMs() + wait_ms;
  while (wl_display_get_error(g_display) == 0) {
    if (wl_display_flush(g_display) >= 0) {
      return 0;
    }
    if (errno != EAGAIN) {
      return errno;
    }
    const std::int64_t left = until - NowMs();
    if (left <= 0) {
      return ETIME;
    }
    pollfd socket{wl_display_get_fd(g_display), POLLOUT, 0};
    poll(&socket, 1, static_cast<int>(left));
  }
  return wl_display_get_error(g_display);
}

void FlushAtExit() {
  if (g_display != nullptr) {
    FlushWithin(kCompositorFlushWaitMs);
  }
}

}  // namespace

bool ConnectToCompositor() {
  g_display = wl_display_connect(nullptr);
  if (g_display == nullptr) {
    return false;
  }
  g_registry = wl_display_get_registry(g_display);
  wl_registry_add_listener(g_registry, &kRegistryListener, nullptr);
  if (!RoundtripToCompositor()) {
    DisconnectFromCompositor();
    return false;
  }
  runtime::SetClickFlushAtExit(&FlushAtExit);
  return true;
}

void DisconnectFromCompositor() {
  if (g_display == nullptr) {
    return;
  }
  // Its flush at exit stays set, doing nothing now, unless a backend set its own since.
  wl_registry_destroy(g_registry);
  wl_display_disconnect(g_display);
  g_display = nullptr;
  g_registry = nullptr;
  g_globals.clear();
}

void* BindCompositorGlobal(const wl_interface& interface, std::uint32_t version) {
  const Global* global = FindGlobal(interface.name);
  return global != nullptr ? wl_registry_bind(g_registry, global->name, &interface,
                                              std::min(version, global->version))
                           : nullptr;
}

bool CompositorAdvertises(const char* interface) { return FindGlobal(interface) != nullptr; }

bool RoundtripToCompositor() { return wl_display_roundtrip(g_display) >= 0; }

void FlushToCompositor() {
  if (const int error = FlushWithin(kCompositorFlushWaitMs); error != 0) {
    runtime::RaiseFatalError(error == ETIME ? CompositorName() + " took no input for " +
                                                  std::to_string(kCompositorFlushWaitMs) + " ms"
                                            : ConnectionError(error),
                             runtime::kExitNoDisplay);
  }
}

}  // namespace clickburst::input
