// KWin 6.1 and later: emulated input through libei, on the EIS socket that KWin's
// org.kde.KWin.EIS.RemoteDesktop hands to any client of the session bus, installed or not,
// without asking anyone. KWin drops the devices of a client that leaves the bus, so the bus is
// kept, and watched, for the whole run. Asked only of the KWin that is this session's
// compositor: the user's bus serves all the user's logins.
#include <cstdint>
#include <string>
#include <string_view>

#include "input/linux/shared/ei_device.h"
#include "input/linux/shared/session_bus.h"
#include "input/linux/shared/wayland_compositor.h"
#include "input/linux/ways_in.h"

namespace clickburst::input {
namespace {

constexpr const char* kKWinName = "org.kde.KWin";
constexpr std::int32_t kKWinPointer = 2;  // KWin's EIS capability flags: keyboard 1, pointer 2

SessionBus* g_bus = nullptr;

void OnKWinBusReadable() { g_bus->Process("KWin's emulated input"); }

void EndKWinEmulatedInput() {
  EndEmulatedInput();
  g_bus->Close();
}

// What a KWin without connectToEIS answers (Plasma 5.27, Kubuntu 24.04's among them): an absence,
// not a refusal.
bool NamesAbsence(std::string_view error_name) {
  return error_name == "org.freedesktop.DBus.Error.UnknownObject" ||
         error_name == "org.freedesktop.DBus.Error.UnknownInterface" ||
         error_name == "org.freedesktop.DBus.Error.UnknownMethod";
}

}  // namespace

WayIn OpenKWinEmulatedInput(const SetUp& set_up) {
  g_bus = set_up.bus;
  std::string why;
  std::uint32_t kwin_pid = 0;
  // KWin absent, or the bus broken: GNOME's way in, asked first, has said so already.
  if (g_bus->Open(set_up.deadline) == nullptr ||
      !g_bus->NameOwnerProcess(kKWinName, set_up.deadline, kwin_pid, why) || kwin_pid == 0) {
    return {};
  }
  if (!IsCompositorProcess(kwin_pid, set_up.compositor_pid)) {
    return Refusal(Answer::kOtherDesktop,
                   "KWin's emulated input on the session bus belongs to another desktop (KWin, "
                   "process " +
                       std::to_string(kwin_pid) + "), not to this session's compositor");
  }
  if (!LoadLibei(why)) {
    return Refusal(Answer::kRefused, why);
  }
  sd_bus_message* reply = nullptr;
  std::string error_name;
  if (!g_bus->Call(
          g_bus->NewCall(kKWinName, "/org/kde/KWin/EIS/RemoteDesktop",
                         "org.kde.KWin.EIS.RemoteDesktop", "connectToEIS", "i", kKWinPointer),
          set_up.deadline, &reply, why, &error_name)) {
    return NamesAbsence(error_name)
               ? WayIn{}
               : Refusal(
                     MicrosecondsLeft(set_up.deadline) == 0 ? Answer::kTimedOut : Answer::kRefused,
                     "KWin refused its emulated input (" + why + ")");
  }
  if (const int eis = TakeSocketFromReply(reply, "connectToEIS", why); eis >= 0) {
    why = StartEmulatedInput(eis, "KWin", set_up.deadline, g_bus);
  }
  if (!why.empty()) {
    EndEmulatedInput();
    return Refusal(Answer::kRefused, "KWin refused its emulated input (" + why + ")");
  }
  WayIn way_in = Clicks(&EmulatedClick, &EndKWinEmulatedInput);
  way_in.watch_fd = sd::sd_bus_get_fd(g_bus->get());
  way_in.on_readable = &OnKWinBusReadable;
  way_in.keeps_bus = true;
  return way_in;
}

}  // namespace clickburst::input
