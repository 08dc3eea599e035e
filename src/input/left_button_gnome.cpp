// GNOME (mutter 43 and later): an org.gnome.Mutter.RemoteDesktop session on the session bus,
// through sd-bus (libsystemd0, which every Debian system has: apt depends on it). Mutter
// answers a session's calls only from the connection that created it, so the one connection
// made by the probe creates, starts and clicks. The user's bus serves all the user's logins, so
// the session is asked for only where the name's owner is this session's compositor (one
// process owns both), and every set-up call shares the set-up's deadline. While the session
// runs, GNOME Shell shows its remote-access indicator, whose Stop (or a screen lock) closes the
// session: the program then ends at once, as if its window had been closed.
#include <systemd/sd-bus.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "input/left_button.h"
#include "input/session_bus.h"
#include "runtime/clock.h"
#include "runtime/end_program.h"
#include "runtime/fatal_error.h"
#include "runtime/input_watch.h"

namespace clickburst::input {
namespace {

constexpr const char* kMutterName = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* kMutterPath = "/org/gnome/Mutter/RemoteDesktop";
constexpr const char* kSessionInterface = "org.gnome.Mutter.RemoteDesktop.Session";

sd_bus* g_bus = nullptr;
int g_bus_fd = -1;
std::string g_session_path;
bool g_session_closed = false;  // by the desktop: nothing more may be sent to it
bool g_ending = false;          // the process is on its way out: no handler may run now
bool g_press_pending = false;   // a press not sent yet: it goes out with its release

// When the set-up must be over; a function's static, as a global's construction may throw.
runtime::Instant& SetUpDeadline() {
  static runtime::Instant deadline;
  return deadline;
}

constexpr std::string_view kLost = "GNOME's remote-desktop session";

// One method call on the session, without a reply: mutter then sends none, so nothing piles up
// to be read during the burst. Queued by sd-bus where the socket is full.
int SendNotifyPointerButton(bool pressed) {
  sd_bus_message* call = nullptr;
  int r = sd_bus_message_new_method_call(g_bus, &call, kMutterName, g_session_path.c_str(),
                                         kSessionInterface, "NotifyPointerButton");
  if (r >= 0) {
    r = sd_bus_message_append(call, "ib", static_cast<std::int32_t>(kLinuxButtonLeft),
                              static_cast<int>(pressed));
  }
  if (r >= 0) {
    r = sd_bus_message_set_expect_reply(call, 0);
  }
  if (r >= 0) {
    r = sd_bus_send(g_bus, call, nullptr);
  }
  sd_bus_message_unref(call);
  return r;
}

// Mutter applies each call as it reads it, so a press waits here for its release and both go
// out back to back: the press never reaches mutter without its release right behind it. A
// release with no press pending goes out alone.
void RemoteDesktopLeftButton(bool pressed) {
  if (g_session_closed) {
    return;
  }
  if (pressed) {
    g_press_pending = true;
    return;
  }
  int r = std::exchange(g_press_pending, false) ? SendNotifyPointerButton(true) : 0;
  if (r >= 0) {
    r = SendNotifyPointerButton(false);
  }
  if (r < 0) {
    RaiseBusLost(kLost, -r);
  }
  if (const int error = FlushBusWithin(g_bus); error == ETIME) {
    runtime::RaiseConnectionLost("the session bus took no input for " +
                                 std::to_string(runtime::kSocketRoomWait.count()) + " ms");
  } else if (error != 0) {
    RaiseBusLost(kLost, error);
  }
}

int OnSessionClosed(sd_bus_message*, void*, sd_bus_error*) {
  g_session_closed = true;
  if (!g_ending) {
    std::fputs(
        "clickburst: GNOME ended its remote-desktop session (Stop in the remote-access "
        "indicator, or the screen locked), so clickburst ends now\n",
        stderr);
    runtime::EndProgram();
  }
  return 0;
}

// Reads what the bus sent: the session's Closed signal, or the end of the connection.
void OnBusReadable() { ProcessBus(g_bus, kLost); }

// The end of input, on every way out: a queued release goes out within the bound, mutter is
// told the session is over, and the connection closes, which ends the session on mutter's side
// even where nothing could be sent. A press still pending is dropped, never sent.
void EndSessionInput() {
  g_ending = true;
  runtime::UnwatchReadable(g_bus_fd);
  if (!g_session_closed) {
    sd_bus_message* call = nullptr;
    if (sd_bus_message_new_method_call(g_bus, &call, kMutterName, g_session_path.c_str(),
                                       kSessionInterface, "Stop") >= 0 &&
        sd_bus_message_set_expect_reply(call, 0) >= 0) {
      sd_bus_send(g_bus, call, nullptr);
    }
    sd_bus_message_unref(call);
  }
  FlushBusWithin(g_bus);
  g_bus = sd_bus_close_unref(g_bus);
}

// Creates and starts the session; on failure, `cause` says why.
bool StartSession(std::string& cause) {
  sd_bus_message* reply = nullptr;
  const char* path = nullptr;
  if (!CallBy(g_bus,
              NewCall(g_bus, kMutterName, kMutterPath, "org.gnome.Mutter.RemoteDesktop",
                      "CreateSession", nullptr),
              SetUpDeadline(), &reply, cause)) {
    return false;
  }
  // The path lives in the reply: copied before it goes.
  const int r = sd_bus_message_read(reply, "o", &path);
  if (r > 0) {
    g_session_path = path;
  }
  sd_bus_message_unref(reply);
  if (r <= 0) {
    cause = WithoutWhatItShouldCarry("CreateSession", "session's object path", r);
    return false;
  }
  // Before Start: a session closed at once (a lock right then) is seen, not missed.
  if (!WatchSignalBy(g_bus, SetUpDeadline(), kMutterName, g_session_path.c_str(), kSessionInterface,
                     "Closed", &OnSessionClosed, nullptr, cause)) {
    return false;
  }
  return CallBy(
      g_bus,
      NewCall(g_bus, kMutterName, g_session_path.c_str(), kSessionInterface, "Start", nullptr),
      SetUpDeadline(), nullptr, cause);
}

// Opens the bus and, where this session's compositor owns mutter's name, starts the session.
// False with `refusal` empty where GNOME's way in is absent.
bool SetUpSession(std::uint32_t compositor_pid, std::string& refusal) {
  g_bus = OpenSessionBusBy(SetUpDeadline(), refusal);
  if (g_bus == nullptr) {
    return false;
  }
  std::string cause;
  std::uint32_t mutter_pid = 0;
  if (!NameOwnerProcess(g_bus, kMutterName, SetUpDeadline(), mutter_pid, cause)) {
    refusal = "the session bus did not say who offers GNOME's remote desktop (" + cause + ")";
    return false;
  }
  if (mutter_pid == 0) {
    return false;
  }
  if (mutter_pid != compositor_pid) {
    refusal =
        "GNOME's remote desktop on the session bus belongs to another desktop (mutter, "
        "process " +
        std::to_string(mutter_pid) + "), not to this session's compositor" +
        (compositor_pid != 0 ? " (process " + std::to_string(compositor_pid) + ")" : "");
    return false;
  }
  if (!StartSession(cause)) {
    refusal = "GNOME gave clickburst no remote-desktop session (" + cause + ")";
    return false;
  }
  return true;
}

}  // namespace

LeftButtonRoutine OpenRemoteDesktopSession(std::uint32_t compositor_pid, runtime::Instant deadline,
                                           std::string& refusal) {
  SetUpDeadline() = deadline;
  if (!SetUpSession(compositor_pid, refusal)) {
    // Closed, not flushed: a flush waits without bound on a bus that takes nothing.
    g_bus = sd_bus_close_unref(g_bus);
    return nullptr;
  }
  g_bus_fd = sd_bus_get_fd(g_bus);
  runtime::SetClickInputEnd(&EndSessionInput);
  runtime::WatchReadable(g_bus_fd, &OnBusReadable);
  OnBusReadable();  // what came in during set-up (a Closed already) is read now
  return &RemoteDesktopLeftButton;
}

}  // namespace clickburst::input
