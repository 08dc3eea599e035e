// GNOME (mutter 43 and later): an org.gnome.Mutter.RemoteDesktop session on the session bus,
// through sd-bus (libsystemd0, which every Debian system has: apt depends on it). Mutter
// answers a session's calls only from the connection that created it, so the one connection
// made by the probe creates, starts and clicks. While the session runs, GNOME Shell shows its
// remote-access indicator, whose Stop (or a screen lock) closes the session: the program then
// ends at once, as if its window had been closed.
#include <poll.h>
#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "input/left_button.h"
#include "runtime/end_program.h"
#include "runtime/fatal_error.h"
#include "runtime/input_watch.h"

namespace clickburst::input {
namespace {

constexpr const char* kMutterName = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* kMutterPath = "/org/gnome/Mutter/RemoteDesktop";
constexpr const char* kSessionInterface = "org.gnome.Mutter.RemoteDesktop.Session";
// The most a click or the way out waits for a bus that takes no data, as for the compositor.
constexpr int kBusFlushWaitMs = 500;

sd_bus* g_bus = nullptr;
int g_bus_fd = -1;
std::string g_session_path;
bool g_session_closed = false;  // by the desktop: nothing more may be sent to it
bool g_ending = false;          // the process is on its way out: no handler may run now

std::int64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1'000'000;
}

[[noreturn]] void RaiseBusLost(int error) {
  runtime::UnwatchReadable(g_bus_fd);
  runtime::RaiseFatalError(
      std::string("lost the connection to the session bus, and with it GNOME's remote-desktop "
                  "session (") +
          std::strerror(error) + ")",
      runtime::kExitNoDisplay);
}

// 0 once sd-bus has written everything queued, else the errno that stopped it (ETIME: no room
// in time). sd_bus_flush would wait without bound; sd_bus_process writes what the socket takes.
int FlushWithin(int wait_ms) {
  const std::int64_t until = NowMs() + wait_ms;
  for (;;) {
    std::uint64_t queued = 0;
    if (const int r = sd_bus_get_n_queued_write(g_bus, &queued); r < 0) {
      return -r;
    }
    if (queued == 0) {
      return 0;
    }
    if (const int r = sd_bus_process(g_bus, nullptr); r < 0) {
      return -r;
    }
    const std::int64_t left = until - NowMs();
    if (left <= 0) {
      return ETIME;
    }
    pollfd socket{g_bus_fd, POLLOUT, 0};
    poll(&socket, 1, static_cast<int>(left));
  }
}

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

// Mutter applies each call as it reads it. The press waits for its release, and both go out
// back to back, so the press never reaches mutter without the release right behind it.
void RemoteDesktopLeftButton(bool pressed) {
  if (pressed || g_session_closed) {
    return;
  }
  int r = SendNotifyPointerButton(true);
  if (r >= 0) {
    r = SendNotifyPointerButton(false);
  }
  if (r < 0) {
    RaiseBusLost(-r);
  }
  if (const int error = FlushWithin(kBusFlushWaitMs); error == ETIME) {
    runtime::RaiseFatalError(
        "the session bus took no input for " + std::to_string(kBusFlushWaitMs) + " ms",
        runtime::kExitNoDisplay);
  } else if (error != 0) {
    RaiseBusLost(error);
  }
}

int OnSessionClosed(sd_bus_message*, void*, sd_bus_error*) {
  g_session_closed = true;
  if (!g_ending) {
    runtime::UnwatchReadable(g_bus_fd);
    std::fputs(
        "clickburst: GNOME ended its remote-desktop session (Stop in the remote-access "
        "indicator, or the screen locked), so clickburst ends now\n",
        stderr);
    runtime::EndProgram();
  }
  return 0;
}

// Reads what the bus sent: the session's Closed signal, or the end of the connection.
void OnBusReadable() {
  for (;;) {
    const int r = sd_bus_process(g_bus, nullptr);
    if (r < 0) {
      RaiseBusLost(-r);
    }
    if (r == 0) {
      return;
    }
  }
}

// Tells mutter the session is over (it would notice the connection go anyway, a little later).
void StopSessionAtExit() {
  g_ending = true;
  if (!g_session_closed) {
    sd_bus_message* call = nullptr;
    if (sd_bus_message_new_method_call(g_bus, &call, kMutterName, g_session_path.c_str(),
                                       kSessionInterface, "Stop") >= 0 &&
        sd_bus_message_set_expect_reply(call, 0) >= 0) {
      sd_bus_send(g_bus, call, nullptr);
    }
    sd_bus_message_unref(call);
  }
  FlushWithin(kBusFlushWaitMs);
}

bool MutterOffersRemoteDesktop() {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int has_owner = 0;
  if (sd_bus_call_method(g_bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                         "org.freedesktop.DBus", "NameHasOwner", &error, &reply, "s",
                         kMutterName) >= 0) {
    sd_bus_message_read(reply, "b", &has_owner);
  }
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  return has_owner != 0;
}

// Creates and starts the session; on failure, why, in the notice's words.
std::string StartSession() {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  const char* path = nullptr;
  std::string failed;
  if (sd_bus_call_method(g_bus, kMutterName, kMutterPath, "org.gnome.Mutter.RemoteDesktop",
                         "CreateSession", &error, &reply, "") < 0 ||
      sd_bus_message_read(reply, "o", &path) < 0) {
    failed = "CreateSession";
  } else {
    g_session_path = path;
    // Before Start: a session closed at once (a lock right then) is seen, not missed.
    if (sd_bus_match_signal(g_bus, nullptr, kMutterName, path, kSessionInterface, "Closed",
                            &OnSessionClosed, nullptr) < 0) {
      failed = "watching the session's Closed signal";
    } else if (sd_bus_call_method(g_bus, kMutterName, path, kSessionInterface, "Start", &error,
                                  nullptr, "") < 0) {
      failed = "Start";
    }
  }
  sd_bus_message_unref(reply);
  std::string refusal;
  if (!failed.empty()) {
    refusal = "GNOME refused a remote-desktop session (" + failed + ": " +
              (sd_bus_error_is_set(&error) ? error.message : "no answer") + ")";
  }
  sd_bus_error_free(&error);
  return refusal;
}

}  // namespace

LeftButtonRoutine OpenRemoteDesktopSession(std::string& refusal) {
  if (sd_bus_open_user(&g_bus) < 0) {
    g_bus = nullptr;
    return nullptr;
  }
  if (!MutterOffersRemoteDesktop()) {
    g_bus = sd_bus_flush_close_unref(g_bus);
    return nullptr;
  }
  refusal = StartSession();
  if (!refusal.empty()) {
    g_bus = sd_bus_flush_close_unref(g_bus);
    return nullptr;
  }
  g_bus_fd = sd_bus_get_fd(g_bus);
  runtime::SetClickFlushAtExit(&StopSessionAtExit);
  runtime::WatchReadable(g_bus_fd, &OnBusReadable);
  OnBusReadable();  // what came in during set-up (a Closed already) is read now
  return &RemoteDesktopLeftButton;
}

}  // namespace clickburst::input
