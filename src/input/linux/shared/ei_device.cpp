// Emulated input (libei): a sender context on an EIS socket that the desktop hands over, with
// one device bound to the pointer and button capabilities; the device sends a button at the
// seat's cursor, which is never read or moved. The few prototypes used are declared below from
// libei's documented API.
//
// libei writes each message to its socket at once, and the desktop acts on a button as it reads
// it. So libei is given one end of a socket pair instead, and this file relays: what the desktop
// sends goes on to libei as it comes; what libei writes goes on to the desktop after each call,
// and after a click's press and release together, in one write.
#include "input/linux/shared/ei_device.h"

#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "input/linux/shared/notice.h"
#include "input/way_in.h"
#include "runtime/clock.h"
#include "runtime/end_program.h"
#include "runtime/fatal_error.h"
#include "runtime/input_watch.h"
#include "runtime/late_binding.h"
#include "runtime/socket_wait.h"

namespace clickburst::input {
namespace {

// libei's opaque objects, only ever passed back to it.
struct Ei;
struct EiSeat;
struct EiDevice;
struct EiEvent;

// enum ei_event_type and enum ei_device_capability, libei.h.
constexpr int kEiEventDisconnect = 2;
constexpr int kEiEventSeatAdded = 3;
constexpr int kEiEventSeatRemoved = 4;
constexpr int kEiEventDeviceAdded = 5;
constexpr int kEiEventDeviceRemoved = 6;
constexpr int kEiEventDevicePaused = 7;
constexpr int kEiEventDeviceResumed = 8;
constexpr int kEiCapabilityPointer = 1 << 0;
constexpr int kEiCapabilityButton = 1 << 5;
constexpr int kEiLogPriorityError = 40;  // enum ei_log_priority

constexpr const char* kLibei = "libei.so.1";
template <class Signature>
using EiRoutine = runtime::DeclaredRoutine<Signature>;
EiRoutine<Ei*(void* user_data)> ei_new_sender{kLibei, "ei_new_sender"};
EiRoutine<Ei*(Ei*)> ei_unref{kLibei, "ei_unref"};
EiRoutine<void(Ei*, const char* name)> ei_configure_name{kLibei, "ei_configure_name"};
EiRoutine<void(Ei*, int priority)> ei_log_set_priority{kLibei, "ei_log_set_priority"};
EiRoutine<int(Ei*, int fd)> ei_setup_backend_fd{kLibei, "ei_setup_backend_fd"};
EiRoutine<void(Ei*)> ei_dispatch{kLibei, "ei_dispatch"};
EiRoutine<EiEvent*(Ei*)> ei_get_event{kLibei, "ei_get_event"};
EiRoutine<std::uint64_t(Ei*)> ei_now_us{kLibei, "ei_now"};
EiRoutine<int(EiEvent*)> ei_event_get_type{kLibei, "ei_event_get_type"};
EiRoutine<EiSeat*(EiEvent*)> ei_event_get_seat{kLibei, "ei_event_get_seat"};
EiRoutine<EiDevice*(EiEvent*)> ei_event_get_device{kLibei, "ei_event_get_device"};
EiRoutine<EiEvent*(EiEvent*)> ei_event_unref{kLibei, "ei_event_unref"};
// Capabilities, ended by a null pointer (its sentinel attribute).
EiRoutine<void(EiSeat*, ...)> ei_seat_bind_capabilities{kLibei, "ei_seat_bind_capabilities"};
EiRoutine<bool(EiDevice*, int capability)> ei_device_has_capability{kLibei,
                                                                    "ei_device_has_capability"};
EiRoutine<EiDevice*(EiDevice*)> ei_device_ref{kLibei, "ei_device_ref"};
EiRoutine<void(EiDevice*, std::uint32_t sequence)> ei_device_start_emulating{
    kLibei, "ei_device_start_emulating"};
EiRoutine<void(EiDevice*, std::uint32_t button, bool is_press)> ei_device_button_button{
    kLibei, "ei_device_button_button"};
EiRoutine<void(EiDevice*, std::uint64_t time_us)> ei_device_frame{kLibei, "ei_device_frame"};

Ei* g_ei = nullptr;
const char* g_desktop = "";   // who handed over the socket, as the messages name it
SessionBus* g_bus = nullptr;  // for the notices
int g_eis_fd = -1;            // the desktop's end
int g_relay_fd = -1;          // ours of the pair whose other end libei has
std::string g_to_eis;         // read from libei, not yet taken by the desktop
EiDevice* g_device = nullptr;
bool g_resumed = false;
bool g_was_resumed = false;  // once: from then on, the device taken away ends the program
bool g_disconnected = false;

// What each event of the connection means, at set-up and during the run alike.
void TakeEvents() {
  while (EiEvent* event = ei_get_event(g_ei)) {
    EiDevice* device = ei_event_get_device(event);
    switch (ei_event_get_type(event)) {
      case kEiEventDisconnect:
        g_disconnected = true;
        break;
      case kEiEventSeatAdded:
        if (g_device == nullptr) {
          ei_seat_bind_capabilities(ei_event_get_seat(event), kEiCapabilityPointer,
                                    kEiCapabilityButton, nullptr);
        }
        break;
      case kEiEventDeviceAdded:
        if (g_device == nullptr && ei_device_has_capability(device, kEiCapabilityButton)) {
          g_device = ei_device_ref(device);
        }
        break;
      case kEiEventDeviceResumed:
        if (device == g_device && !g_resumed) {
          g_resumed = g_was_resumed = true;
          ei_device_start_emulating(g_device, 1);
        }
        break;
      case kEiEventDevicePaused:
      case kEiEventDeviceRemoved:
        g_resumed = g_resumed && device != g_device;
        break;
      case kEiEventSeatRemoved:
        g_resumed = false;
        break;
      default:
        break;
    }
    ei_event_unref(event);
  }
}

// Sends g_to_eis; 0, or the errno that stopped it (EAGAIN: the desktop takes no more for now).
// What a short send left stays queued for the next try, so the stream stays in step.
int TrySendToEis(void* = nullptr) {
  while (!g_to_eis.empty()) {
    const ssize_t sent =
        send(g_eis_fd, g_to_eis.data(), g_to_eis.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0 && errno == EINTR) {
      continue;
    }
    if (sent < 0) {
      return errno;
    }
    g_to_eis.erase(0, static_cast<std::size_t>(sent));
  }
  return 0;
}

// What libei has written goes to the desktop, waiting for room at most `wait`; 0, or the errno
// that stopped it (ETIME: no room in time).
int ForwardToEis(runtime::Duration wait = runtime::kSocketRoomWait) {
  std::array<char, 4096> chunk{};
  ssize_t got = 0;
  while ((got = recv(g_relay_fd, chunk.data(), chunk.size(), MSG_DONTWAIT)) > 0) {
    g_to_eis.append(chunk.data(), static_cast<std::size_t>(got));
  }
  return runtime::SendWithin(g_eis_fd, &TrySendToEis, nullptr, wait);
}

// All of `data` to libei's end of the pair: 0, or the errno that stopped it. The pair's buffer
// holds far more than the desktop ever sends at once, so a full one is an error, not a wait.
int SendAllToLibei(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = send(g_relay_fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0 && errno == EINTR) {
      continue;
    }
    if (sent < 0) {
      return errno == EAGAIN ? ENOBUFS : errno;
    }
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return 0;
}

// What the desktop has sent goes to libei, which then reads it; 0, or why not (ECONNRESET: the
// desktop ended the connection).
int ForwardFromEis() {
  std::array<char, 4096> chunk{};
  for (;;) {
    const ssize_t got = recv(g_eis_fd, chunk.data(), chunk.size(), MSG_DONTWAIT);
    if (got == 0) {
      return ECONNRESET;
    }
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      return errno == EAGAIN ? 0 : errno;
    }
    if (const int error = SendAllToLibei(chunk.data(), static_cast<std::size_t>(got)); error != 0) {
      return error;
    }
  }
}

[[noreturn]] void RaiseEisLost(int error) {
  runtime::RaiseConnectionLost(std::string("lost the EIS connection of ") + g_desktop +
                               "'s emulated input (" + std::strerror(error) + ")");
}

// One relay round: the desktop's messages to libei, its events taken, its answers sent on,
// waiting for room at most `wait`.
int Relay(runtime::Duration wait = runtime::kSocketRoomWait) {
  int error = ForwardFromEis();
  ei_dispatch(g_ei);
  TakeEvents();
  if (const int forwarded = ForwardToEis(wait); error == 0) {
    error = forwarded;
  }
  return error;
}

// The desktop's word during the run: the desktop ending the input it had granted ends the
// program, as its window closing would; the connection lost is an error.
void OnEisReadable() {
  const int error = Relay();
  // A desktop that ends the input says so before it closes: it disconnects the client (the
  // portal's session ended) or takes its device away (KWin's client left the bus). A
  // connection that ends without a word was lost.
  if (g_disconnected || (g_was_resumed && !g_resumed)) {
    Notice(std::string(g_desktop) + " ended its emulated input, so clickburst ends now", g_bus);
    runtime::EndProgram();
  }
  if (error != 0) {
    RaiseEisLost(error);
  }
}

}  // namespace

bool LoadLibei(std::string& why) {
  if (runtime::LoadOptionalLibrary(kLibei, why)) {
    return true;
  }
  why = std::string(kLibei) + ", for emulated input, cannot be loaded (" + why +
        "): install the package libei1";
  return false;
}

std::string StartEmulatedInput(int eis_fd, const char* desktop,
                               std::optional<runtime::Instant> deadline, SessionBus* bus) {
  g_eis_fd = eis_fd;
  g_desktop = desktop;
  g_bus = bus;
  std::array<int, 2> pair{};
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair.data()) < 0) {
    return std::string("socketpair: ") + std::strerror(errno);
  }
  g_relay_fd = pair[0];
  g_ei = ei_new_sender(nullptr);
  ei_configure_name(g_ei, "clickburst");
  // What libei would log (a disconnect, at its default level) the program says in its own words.
  ei_log_set_priority(g_ei, kEiLogPriorityError);
  if (const int r = ei_setup_backend_fd(g_ei, pair[1]); r < 0) {
    return std::string("ei_setup_backend_fd: ") + std::strerror(-r);
  }
  // At set-up every wait ends by the set-up's deadline; later, within the usual bound.
  const auto wait = [&] {
    return deadline ? runtime::WaitBy(*deadline) : runtime::Duration(runtime::kSocketRoomWait);
  };
  int error = ForwardToEis(wait());
  for (; error == 0 && !g_disconnected && deadline && !g_resumed; error = Relay(wait())) {
    if (!runtime::WaitReadableUntil(g_eis_fd, *deadline)) {
      return SetUpOverrun(std::string(desktop) + "'s EIS, asked for a device,");
    }
  }
  if (error != 0 || g_disconnected) {
    return std::string("the EIS connection ended at set-up: ") +
           std::strerror(error != 0 ? error : ECONNRESET);
  }
  runtime::WatchReadable(g_eis_fd, &OnEisReadable);
  return {};
}

bool EmulatedInputResumed() { return g_resumed; }

// Both frames reach the desktop in one write.
void EmulatedClick(bool with_press) {
  if (!g_resumed) {
    return;
  }
  const std::uint64_t now_us = ei_now_us(g_ei);
  if (with_press) {
    ei_device_button_button(g_device, kLinuxButtonLeft, true);
    ei_device_frame(g_device, now_us);
  }
  ei_device_button_button(g_device, kLinuxButtonLeft, false);
  ei_device_frame(g_device, now_us);
  if (const int error = ForwardToEis(); error == ETIME) {
    runtime::RaiseConnectionLost(std::string(g_desktop) + "'s EIS connection took no input for " +
                                 std::to_string(runtime::kSocketRoomWait.count()) + " ms");
  } else if (error != 0) {
    RaiseEisLost(error);
  }
}

void EndEmulatedInput() {
  if (g_eis_fd >= 0) {
    runtime::UnwatchReadable(g_eis_fd);
    runtime::SendWithin(g_eis_fd, &TrySendToEis, nullptr);
  }
  g_resumed = false;
  if (g_ei != nullptr) {
    g_ei = ei_unref(g_ei);  // closes its end of the pair
  }
  for (int* fd : {&g_eis_fd, &g_relay_fd}) {
    if (*fd >= 0) {
      close(*fd);
      *fd = -1;
    }
  }
}

}  // namespace clickburst::input
