#include "input/linux/shared/wayland_compositor.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "input/way_in.h"
#include "runtime/fatal_error.h"
#include "runtime/socket_wait.h"

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

// One try at sending what libwayland buffered, for SendWithin. libwayland keeps a fatal error
// once it has one and may answer a flush with EAGAIN as if the socket were only full.
int TryFlush(void* = nullptr) {
  if (const int error = wl_display_get_error(g_display); error != 0) {
    return error;
  }
  return wl_display_flush(g_display) >= 0 ? 0 : errno;
}

// One read of what the compositor sent, and its dispatch, waiting at most until `deadline`: 0,
// ETIME, or the errno that stopped it (EPROTO once a protocol error has been read).
int DispatchUntil(runtime::Instant deadline) {
  while (wl_display_prepare_read(g_display) != 0) {
    if (wl_display_dispatch_pending(g_display) < 0) {
      return wl_display_get_error(g_display);
    }
  }
  if (const int error = TryFlush(); error != 0 && error != EAGAIN && error != EPIPE) {
    wl_display_cancel_read(g_display);
    return error;
  }
  if (!runtime::WaitReadableUntil(wl_display_get_fd(g_display), deadline)) {
    wl_display_cancel_read(g_display);
    return ETIME;
  }
  if (wl_display_read_events(g_display) < 0 || wl_display_dispatch_pending(g_display) < 0) {
    return wl_display_get_error(g_display);
  }
  return 0;
}

void OnSyncDone(void* done, wl_callback* callback, std::uint32_t) {
  *static_cast<bool*>(done) = true;
  wl_callback_destroy(callback);
}

constexpr wl_callback_listener kSyncListener = {&OnSyncDone};

// A compositor that ends a client for a protocol error sends the error, then closes: the
// event is still in the socket after the EPIPE, read here within a bound, so that the report
// names the error rather than the broken pipe.
int ReadProtocolErrorAfterHangUp() {
  const runtime::Instant deadline = runtime::MonotonicClock::now() + runtime::kSocketRoomWait;
  int error = 0;
  while (error == 0) {
    error = DispatchUntil(deadline);
  }
  return error == ETIME ? EPIPE : error;
}

// The process that started `pid`, from the fourth field of /proc/PID/stat (the second, the
// command's name in parentheses, may hold spaces); 0 where it cannot be read.
std::uint32_t ParentProcess(std::uint32_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const std::size_t name_end = line.rfind(')');
  std::uint32_t parent = 0;
  if (name_end != std::string::npos) {
    std::istringstream fields(line.substr(name_end + 1));
    std::string state;
    fields >> state >> parent;
  }
  return parent;
}

}  // namespace

// Sends what is buffered within the bound, then closes the connection: what could not be sent
// is dropped, never sent later from wherever the pointer is by then.
void EndCompositorInput() {
  if (g_display != nullptr) {
    runtime::SendWithin(wl_display_get_fd(g_display), &TryFlush, nullptr);
    DisconnectFromCompositor();
  }
}

bool IsCompositorProcess(std::uint32_t pid, std::uint32_t listener_pid) {
  return listener_pid != 0 && (pid == listener_pid || ParentProcess(pid) == listener_pid);
}

std::string SetUpFailure(int error, std::string_view whom) {
  return error == ETIME ? SetUpOverrun(whom) : ConnectionError(error);
}

bool ConnectToCompositor(runtime::Instant deadline, std::string& failure) {
  g_display = wl_display_connect(nullptr);
  if (g_display == nullptr) {
    failure = "no Wayland compositor answers at " + CompositorName() + " (" + std::strerror(errno) +
              "): WAYLAND_DISPLAY may be left from another session, as "
              "inside tmux or over ssh";
    return false;
  }
  g_registry = wl_display_get_registry(g_display);
  wl_registry_add_listener(g_registry, &kRegistryListener, nullptr);
  if (const int error = RoundtripToCompositor(deadline); error != 0) {
    failure = SetUpFailure(error, CompositorName());
    DisconnectFromCompositor();
    return false;
  }
  return true;
}

std::uint32_t CompositorProcessId() {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (g_display == nullptr ||
      getsockopt(wl_display_get_fd(g_display), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
    return 0;
  }
  return static_cast<std::uint32_t>(peer.pid);
}

void DisconnectFromCompositor() {
  if (g_display == nullptr) {
    return;
  }
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

int RoundtripToCompositor(runtime::Instant deadline) {
  bool done = false;
  wl_callback* sync = wl_display_sync(g_display);
  wl_callback_add_listener(sync, &kSyncListener, &done);
  int error = 0;
  while (!done && error == 0) {
    error = DispatchUntil(deadline);
  }
  if (!done) {
    wl_callback_destroy(sync);
  }
  return error;
}

void FlushToCompositor() {
  int error = runtime::SendWithin(wl_display_get_fd(g_display), &TryFlush, nullptr);
  if (error == EPIPE) {
    error = ReadProtocolErrorAfterHangUp();
  }
  if (error != 0) {
    runtime::RaiseConnectionLost(error == ETIME
                                     ? CompositorName() + " took no input for " +
                                           std::to_string(runtime::kSocketRoomWait.count()) + " ms"
                                     : ConnectionError(error));
  }
}

}  // namespace clickburst::input
