// GNOME (mutter 43 and later): an org.gnome.Mutter.RemoteDesktop session on the session bus.
// - Mutter answers a session's calls only from the connection that created it, so the shared
//   bus creates, starts and clicks, and this way in keeps it;
// - the user's bus serves all the user's logins, so the session is asked for only where the
//   name's owner is this session's compositor;
// - while the session runs, GNOME Shell shows its remote-access indicator, whose Stop (or a
//   screen lock) closes the session: the program then ends at once, as if its window had been
//   closed.
#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>

#include "input/linux/shared/session_bus.h"
#include "input/linux/shared/wayland_compositor.h"
#include "input/linux/ways_in.h"
#include "runtime/fatal_error.h"
#include "runtime/socket_wait.h"

namespace clickburst::input {
namespace {

constexpr const char* kMutterName = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* kMutterPath = "/org/gnome/Mutter/RemoteDesktop";
constexpr const char* kSessionInterface = "org.gnome.Mutter.RemoteDesktop.Session";
constexpr std::string_view kLost = "GNOME's remote-desktop session";

SessionBus* g_bus = nullptr;
std::string g_session_path;
bool g_session_closed = false;  // by the desktop: nothing more may be sent to it
bool g_ending = false;          // the process is on its way out: no handler may run now

// Without a reply: mutter then sends none, so nothing piles up to be read during the burst.
int SendNotifyPointerButton(bool pressed) {
  return g_bus->Send(kMutterName, g_session_path.c_str(), kSessionInterface, "NotifyPointerButton",
                     "ib", static_cast<std::int32_t>(kLinuxButtonLeft), static_cast<int>(pressed));
}

// Mutter applies each call as it reads it, so both go out back to back: the press never reaches
// mutter without its release right behind it.
void RemoteDesktopClick(bool with_press) {
  if (g_session_closed) {
    return;
  }
  int r = with_press ? SendNotifyPointerButton(true) : 0;
  if (r >= 0) {
    r = SendNotifyPointerButton(false);
  }
  if (r < 0) {
    RaiseBusLost(kLost, -r);
  }
  if (const int error = g_bus->FlushWithin(runtime::kSocketRoomWait); error == ETIME) {
    runtime::RaiseConnectionLost("the session bus took no input for " +
                                 std::to_string(runtime::kSocketRoomWait.count()) + " ms");
  } else if (error != 0) {
    RaiseBusLost(kLost, error);
  }
}

int OnSessionClosed(sd_bus_message*, void*, sd_bus_error*) {
  g_session_closed = true;
  if (!g_ending) {
    g_bus->EndProgramAfterProcessing(
        "GNOME ended its remote-desktop session (Stop in the remote-access indicator, or the "
        "screen locked), so clickburst ends now");
  }
  return 0;
}

// Reads what the bus sent: the session's Closed signal, or the end of the connection.
void OnBusReadable() { g_bus->Process(kLost); }

// The end of input, on every way out: a queued release goes out within the bound, mutter is
// told the session is over, and the connection closes, which ends the session on mutter's side
// even where nothing could be sent.
void EndSessionInput() {
  g_ending = true;
  if (!g_session_closed) {
    g_bus->Send(kMutterName, g_session_path.c_str(), kSessionInterface, "Stop", nullptr);
  }
  g_bus->FlushWithin(runtime::kSocketRoomWait);
  g_bus->Close();
}

// Creates and starts the session; on failure, `cause` says why.
bool StartSession(runtime::Instant deadline, std::string& cause) {
  sd_bus_message* reply = nullptr;
  const char* path = nullptr;
  if (!g_bus->Call(g_bus->NewCall(kMutterName, kMutterPath, "org.gnome.Mutter.RemoteDesktop",
                                  "CreateSession", nullptr),
                   deadline, &reply, cause)) {
    return false;
  }
  // The path lives in the reply: copied before it goes.
  const int r = sd::sd_bus_message_read(reply, "o", &path);
  if (r > 0) {
    g_session_path = path;
  }
  sd::sd_bus_message_unref(reply);
  if (r <= 0) {
    cause = ReplyWithout("CreateSession", "session's object path", r);
    return false;
  }
  // Before Start: a session closed at once (a lock right then) is seen, not missed.
  return g_bus->WatchSignal(deadline, kMutterName, g_session_path.c_str(), kSessionInterface,
                            "Closed", &OnSessionClosed, nullptr, cause) &&
         g_bus->Call(g_bus->NewCall(kMutterName, g_session_path.c_str(), kSessionInterface, "Start",
                                    nullptr),
                     deadline, nullptr, cause);
}

}  // namespace

WayIn OpenGnomeRemoteDesktop(const SetUp& set_up) {
  g_bus = set_up.bus;
  if (g_bus->Open(set_up.deadline) == nullptr) {
    return Refusal(Answer::kRefused, g_bus->Failure());  // no words: a session without a bus
  }
  std::string cause;
  std::uint32_t mutter_pid = 0;
  if (!g_bus->NameOwnerProcess(kMutterName, set_up.deadline, mutter_pid, cause)) {
    return Refusal(Answer::kRefused,
                   "the session bus did not say who offers GNOME's remote desktop (" + cause + ")");
  }
  if (mutter_pid == 0) {
    return {};
  }
  if (!IsCompositorProcess(mutter_pid, set_up.compositor_pid)) {
    return Refusal(
        Answer::kOtherDesktop,
        "GNOME's remote desktop on the session bus belongs to another desktop (mutter, "
        "process " +
            std::to_string(mutter_pid) + "), not to this session's compositor" +
            (set_up.compositor_pid != 0 ? " (process " + std::to_string(set_up.compositor_pid) + ")"
                                        : ""));
  }
  if (!StartSession(set_up.deadline, cause)) {
    return Refusal(MicrosecondsLeft(set_up.deadline) == 0 ? Answer::kTimedOut : Answer::kRefused,
                   "GNOME gave clickburst no remote-desktop session (" + cause + ")");
  }
  WayIn way_in = Clicks(&RemoteDesktopClick, &EndSessionInput);
  way_in.watch_fd = sd::sd_bus_get_fd(g_bus->get());
  way_in.on_readable = &OnBusReadable;
  way_in.keeps_bus = true;
  return way_in;
}

}  // namespace clickburst::input
