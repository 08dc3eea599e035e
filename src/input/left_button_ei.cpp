// Emulated input (libei): a sender context on an EIS socket that the desktop hands over, with
// one device bound to the pointer and button capabilities; the device sends a button at the
// seat's cursor, which is never read or moved. The few prototypes used are declared below from
// libei's documented API. The socket comes from KWin 6's org.kde.KWin.EIS.RemoteDesktop (below),
// which gives one to any client of the session bus without asking anyone, and drops its devices
// when that client leaves the bus: that connection is kept, and watched, for the whole run; or
// from the remote-desktop portal (left_button_portal.cpp).
//
// libei writes each message to its socket at once, and the desktop acts on a button as it reads
// it. So libei is given one end of a socket pair instead, and this file relays: what the desktop
// sends goes on to libei as it comes; what libei writes goes on to the desktop after each call,
// and after a click's press and release together, in one write.
#include <sys/socket.h>
#include <systemd/sd-bus.h>
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

#include "input/emulated_input.h"
#include "input/left_button.h"
#include "input/session_bus.h"
#include "runtime/clock.h"
#include "runtime/end_program.h"
#include "runtime/fatal_error.h"
#include "runtime/input_watch.h"
#include "runtime/late_binding.h"

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

constexpr const char* kKWinName = "org.kde.KWin";
constexpr std::int32_t kKWinPointer = 2;  // KWin's EIS capability flags: keyboard 1, pointer 2

Ei* g_ei = nullptr;
const char* g_giver = "";  // who handed over the socket, as the messages name it
int g_eis_fd = -1;         // the desktop's end
int g_relay_fd = -1;       // ours of the pair whose other end libei has
std::string g_to_eis;      // read from libei, not yet taken by the desktop
EiDevice* g_device = nullptr;
bool g_resumed = false;
bool g_was_resumed = false;    // once: from then on, the device taken away ends the program
bool g_press_pending = false;  // a press not sent yet: it goes out with its release
bool g_disconnected = false;

// What each event of the connection means, at set-up and during the run alike.
void TakeEvents() {
  while (EiEvent* event = ei_get_event.Get()(g_ei)) {
    EiDevice* device = ei_event_get_device.Get()(event);
    switch (ei_event_get_type.Get()(event)) {
      case kEiEventDisconnect:
        g_disconnected = true;
        break;
      case kEiEventSeatAdded:
        if (g_device == nullptr) {
          ei_seat_bind_capabilities.Get()(ei_event_get_seat.Get()(event), kEiCapabilityPointer,
                                          kEiCapabilityButton, nullptr);
        }
        break;
      case kEiEventDeviceAdded:
        if (g_device == nullptr && ei_device_has_capability.Get()(device, kEiCapabilityButton)) {
          g_device = ei_device_ref.Get()(device);
        }
        break;
      case kEiEventDeviceResumed:
        if (device == g_device && !g_resumed) {
          g_resumed = g_was_resumed = true;
          ei_device_start_emulating.Get()(g_device, 1);
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
    ei_event_unref.Get()(event);
  }
}

// Sends g_to_eis; 0, or the errno that stopped it (EAGAIN: the desktop takes no more for now).
int TrySendToEis() {
  while (!g_to_eis.empty()) {
    const ssize_t sent =
        send(g_eis_fd, g_to_eis.data(), g_to_eis.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
      return errno == EINTR ? 0 : errno;
    }
    g_to_eis.erase(0, static_cast<std::size_t>(sent));
  }
  return 0;
}

// What libei has written goes to the desktop; 0, or the errno that stopped it (ETIME: no room in
// time).
int ForwardToEis() {
  std::array<char, 4096> chunk{};
  ssize_t got = 0;
  while ((got = recv(g_relay_fd, chunk.data(), chunk.size(), MSG_DONTWAIT)) > 0) {
    g_to_eis.append(chunk.data(), static_cast<std::size_t>(got));
  }
  return runtime::SendWithin(g_eis_fd, &TrySendToEis);
}

// What the desktop has sent goes to libei, which then reads it; 0, or why not (ECONNRESET: the
// desktop ended the connection). The pair's buffer holds far more than it ever sends at once.
int ForwardFromEis() {
  std::array<char, 4096> chunk{};
  for (;;) {
    const ssize_t got = recv(g_eis_fd, chunk.data(), chunk.size(), MSG_DONTWAIT);
    if (got == 0) {
      return ECONNRESET;
    }
    if (got < 0) {
      return errno == EAGAIN ? 0 : errno;
    }
    if (send(g_relay_fd, chunk.data(), static_cast<std::size_t>(got),
             MSG_NOSIGNAL | MSG_DONTWAIT) != got) {
      return errno;
    }
  }
}

[[noreturn]] void RaiseEisLost(int error) {
  runtime::RaiseConnectionLost(std::string("lost the EIS connection of ") + g_giver +
                               "'s emulated input (" + std::strerror(error) + ")");
}

// One relay round: the desktop's messages to libei, its events taken, its answers sent on.
int Relay() {
  int error = ForwardFromEis();
  ei_dispatch.Get()(g_ei);
  TakeEvents();
  if (const int forwarded = ForwardToEis(); error == 0) {
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
    std::fprintf(stderr, "clickburst: %s ended its emulated input, so clickburst ends now\n",
                 g_giver);
    runtime::EndProgram();
  }
  if (error != 0) {
    RaiseEisLost(error);
  }
}

sd_bus* g_kwin_bus = nullptr;  // kept open: KWin drops the devices of a client that leaves it

void OnKWinBusReadable() { ProcessBus(g_kwin_bus, "KWin's emulated input"); }

void EndKWinEmulatedInput() {
  runtime::UnwatchReadable(sd_bus_get_fd(g_kwin_bus));
  EndEmulatedInput();
  g_kwin_bus = sd_bus_close_unref(g_kwin_bus);
}

// KWin's EIS socket (ours to close), or -1 with why in `failed`.
int ConnectToKWinEis(runtime::Instant deadline, std::string& failed) {
  sd_bus_message* reply = nullptr;
  return CallBy(g_kwin_bus,
                NewCall(g_kwin_bus, kKWinName, "/org/kde/KWin/EIS/RemoteDesktop",
                        "org.kde.KWin.EIS.RemoteDesktop", "connectToEIS", "i", kKWinPointer),
                deadline, &reply, failed)
             ? KeepSocketOf(reply, "connectToEIS", failed)
             : -1;
}

}  // namespace

bool LoadLibei(std::string& why) {
  if (runtime::LoadOptionalLibrary(kLibei, why)) {
    return true;
  }
  why = std::string(kLibei) + ", for emulated input, cannot be loaded (" + why + ")";
  return false;
}

std::string StartEmulatedInput(int eis_fd, const char* giver,
                               std::optional<runtime::Instant> deadline) {
  g_eis_fd = eis_fd;
  g_giver = giver;
  std::array<int, 2> pair{};
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair.data()) < 0) {
    return std::string("socketpair: ") + std::strerror(errno);
  }
  g_relay_fd = pair[0];
  g_ei = ei_new_sender.Get()(nullptr);
  ei_configure_name.Get()(g_ei, "clickburst");
  // What libei would log (a disconnect, at its default level) the program says in its own words.
  ei_log_set_priority.Get()(g_ei, kEiLogPriorityError);
  if (const int r = ei_setup_backend_fd.Get()(g_ei, pair[1]); r < 0) {
    return std::string("ei_setup_backend_fd: ") + std::strerror(-r);
  }
  for (int error = ForwardToEis(); deadline && !g_resumed; error = Relay()) {
    if (error != 0 || g_disconnected) {
      return std::string("the EIS connection ended at set-up: ") +
             std::strerror(error != 0 ? error : ECONNRESET);
    }
    if (!runtime::WaitReadableUntil(g_eis_fd, *deadline)) {
      return SetUpOverrun(std::string(giver) + "'s EIS, asked for a device,");
    }
  }
  runtime::WatchReadable(g_eis_fd, &OnEisReadable);
  return {};
}

// The press waits for its release, and both frames reach the desktop in one write. A release
// with no press pending goes out alone.
void EmulatedLeftButton(bool pressed) {
  if (!g_resumed) {
    return;
  }
  if (pressed) {
    g_press_pending = true;
    return;
  }
  const std::uint64_t now_us = ei_now_us.Get()(g_ei);
  if (std::exchange(g_press_pending, false)) {
    ei_device_button_button.Get()(g_device, kLinuxButtonLeft, true);
    ei_device_frame.Get()(g_device, now_us);
  }
  ei_device_button_button.Get()(g_device, kLinuxButtonLeft, false);
  ei_device_frame.Get()(g_device, now_us);
  if (const int error = ForwardToEis(); error == ETIME) {
    runtime::RaiseConnectionLost(std::string(g_giver) + "'s EIS connection took no input for " +
                                 std::to_string(runtime::kSocketRoomWait.count()) + " ms");
  } else if (error != 0) {
    RaiseEisLost(error);
  }
}

void EndEmulatedInput() {
  if (g_eis_fd >= 0) {
    runtime::UnwatchReadable(g_eis_fd);
    runtime::SendWithin(g_eis_fd, &TrySendToEis);
  }
  g_resumed = false;
  if (g_ei != nullptr) {
    g_ei = ei_unref.Get()(g_ei);  // closes its end of the pair
  }
  for (int* fd : {&g_eis_fd, &g_relay_fd}) {
    if (*fd >= 0) {
      close(*fd);
      *fd = -1;
    }
  }
}

LeftButtonRoutine OpenKWinEmulatedInput(std::uint32_t compositor_pid, runtime::Instant deadline,
                                        std::string& refusal) {
  std::string why;
  g_kwin_bus = OpenSessionBusBy(deadline, why);
  std::uint32_t kwin_pid = 0;
  if (g_kwin_bus == nullptr || !NameOwnerProcess(g_kwin_bus, kKWinName, deadline, kwin_pid, why) ||
      kwin_pid == 0) {
    // KWin absent, or the bus broken: GNOME's way in, asked first, has said so already.
    g_kwin_bus = sd_bus_close_unref(g_kwin_bus);
    return nullptr;
  }
  if (kwin_pid != compositor_pid) {
    why = "KWin's emulated input on the session bus belongs to another desktop (KWin, process " +
          std::to_string(kwin_pid) + "), not to this session's compositor";
  } else if (LoadLibei(why)) {
    if (const int eis = ConnectToKWinEis(deadline, why); eis >= 0) {
      why = StartEmulatedInput(eis, "KWin", deadline);
    }
    if (!why.empty()) {
      why = "KWin refused its emulated input (" + why + ")";
    }
  }
  if (!why.empty()) {
    EndEmulatedInput();
    refusal += (refusal.empty() ? "" : "; and ") + why;
    g_kwin_bus = sd_bus_close_unref(g_kwin_bus);
    return nullptr;
  }
  runtime::SetClickInputEnd(&EndKWinEmulatedInput);
  runtime::WatchReadable(sd_bus_get_fd(g_kwin_bus), &OnKWinBusReadable);
  OnKWinBusReadable();
  return &EmulatedLeftButton;
}

}  // namespace clickburst::input
