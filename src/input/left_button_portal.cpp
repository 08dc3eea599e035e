// The desktop's remote-desktop portal (org.freedesktop.portal.RemoteDesktop, version 2 and
// later): the way in of desktops that offer no other, COSMIC's among them, and of sandboxed
// programs. A session is created and its pointer selected within the set-up's deadline; its
// Start brings up the desktop's dialog as the window opens, and its answer comes whenever the
// user gives it, through the bus watch. Allowed, the session's EIS socket (ConnectToEIS) gets
// the libei device of emulated_input.h; until then nothing is clicked, so no click waits to be
// replayed. Refused, the clicks go through XTest. No restore token is kept: the program keeps
// no state between runs, so the dialog comes at every run.
#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "input/emulated_input.h"
#include "input/left_button.h"
#include "input/session_bus.h"
#include "runtime/clock.h"
#include "runtime/end_program.h"
#include "runtime/fatal_error.h"
#include "runtime/input_watch.h"

namespace clickburst::input {
namespace {

constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kRemoteDesktop = "org.freedesktop.portal.RemoteDesktop";
constexpr std::uint32_t kConnectToEisVersion = 2;  // the interface's first with ConnectToEIS
constexpr std::uint32_t kPortalPointer = 2;        // device types: keyboard 1, pointer 2
constexpr const char* kGiver = "the remote-desktop portal";

// Where the session stands; the dialog's answer moves it on.
enum class Grant { kAsked, kAllowed, kRefused };

// A request's Response signal: its code (0 granted, 1 cancelled by the user, 2 otherwise) and
// the session handle it may carry.
struct Response {
  bool came = false;
  std::uint32_t code = 2;
  std::string session;
};

sd_bus* g_bus = nullptr;
std::string g_session;  // its object path, once created
Grant g_grant = Grant::kAsked;
bool g_ending = false;
// Each request's answer; the bus keeps their matches, and so their addresses, for its life.
Response g_created;
Response g_selected;
Response g_started;
LeftButtonRoutine g_xtest = nullptr;

// The path the portal gives the request with `token`: known before the call, so that the
// match is in place before the answer can come.
std::string RequestPath(std::string_view token) {
  const char* unique = nullptr;
  std::string sender = sd_bus_get_unique_name(g_bus, &unique) >= 0 && unique != nullptr
                           ? unique + 1  // without the leading ':'
                           : "";
  for (char& c : sender) {
    c = c == '.' ? '_' : c;
  }
  return std::string(kPortalPath) + "/request/" + sender + "/" + std::string(token);
}

// Reads Response's code and, among its results, the session handle.
int OnResponse(sd_bus_message* signal, void* response_data, sd_bus_error*) {
  auto& response = *static_cast<Response*>(response_data);
  response.came = true;
  if (sd_bus_message_read(signal, "u", &response.code) <= 0 ||
      sd_bus_message_enter_container(signal, 'a', "{sv}") <= 0) {
    return 0;
  }
  while (sd_bus_message_enter_container(signal, 'e', "sv") > 0) {
    const char* key = nullptr;
    const char* value = nullptr;
    if (sd_bus_message_read(signal, "s", &key) > 0 && std::string_view(key) == "session_handle" &&
        sd_bus_message_read(signal, "v", "s", &value) > 0) {
      response.session = value;
    } else {
      sd_bus_message_skip(signal, "v");
    }
    sd_bus_message_exit_container(signal);
  }
  return 0;
}

// Sends `call` (taken), a request whose handle_token is `token`, with its Response watched
// into `response` from before the call; on failure, `cause` says why.
bool Ask(sd_bus_message* call, const char* token, Response& response, runtime::Instant deadline,
         std::string& cause) {
  if (!WatchSignalBy(g_bus, deadline, kPortalName, RequestPath(token).c_str(),
                     "org.freedesktop.portal.Request", "Response", &OnResponse, &response, cause)) {
    sd_bus_message_unref(call);
    return false;
  }
  return CallBy(g_bus, call, deadline, nullptr, cause);
}

// Waits for the Response of a request that needs no person; false, with `cause`, where it
// refused or did not come by `deadline`.
bool Answered(const Response& response, const char* step, runtime::Instant deadline,
              std::string& cause) {
  while (!response.came) {
    int r = sd_bus_process(g_bus, nullptr);
    if (r == 0) {
      const std::uint64_t left_us = MicrosecondsLeft(deadline);
      r = left_us == 0 ? -ETIME : sd_bus_wait(g_bus, left_us);
    }
    if (r < 0) {
      cause = CauseOf(step, r, SD_BUS_ERROR_NULL, deadline, kGiver);
      return false;
    }
  }
  if (response.code != 0) {
    cause = std::string(step) + ": refused (response " + std::to_string(response.code) + ")";
  }
  return response.code == 0;
}

// The portal's version of the interface; 0 where the portal, or its remote desktop, is absent.
std::uint32_t RemoteDesktopVersion(runtime::Instant deadline, std::string& cause) {
  sd_bus_message* reply = nullptr;
  std::uint32_t version = 0;
  std::string failed;
  if (CallBy(g_bus,
             NewCall(g_bus, kPortalName, kPortalPath, "org.freedesktop.DBus.Properties", "Get",
                     "ss", kRemoteDesktop, "version"),
             deadline, &reply, failed)) {
    // A reply of another shape leaves it 0: no remote desktop to use.
    sd_bus_message_read(reply, "v", "u", &version);
    sd_bus_message_unref(reply);
  } else if (MicrosecondsLeft(deadline) == 0) {
    cause = failed;  // not an absence: it did not answer in time
  }
  return version;
}

// The session's end, by the desktop or by the user's answer.
void Refuse(std::string_view why) {
  g_grant = Grant::kRefused;
  std::fprintf(stderr,
               "clickburst: %.*s, so the clicks go through X11 and reach X11 windows only\n",
               static_cast<int>(why.size()), why.data());
}

// The dialog's answer: allowed, the session's EIS socket gets the device.
void OnStartAnswered() {
  if (g_started.code != 0) {
    Refuse(g_started.code == 1 ? "remote control was not allowed in the desktop's dialog"
                               : "the remote-desktop portal did not start its session");
    return;
  }
  std::string why;
  sd_bus_message* reply = nullptr;
  // The call's bound is the set-up's: an answer in the run must not freeze the window longer.
  if (CallBy(g_bus,
             NewCall(g_bus, kPortalName, kPortalPath, kRemoteDesktop, "ConnectToEIS", "oa{sv}",
                     g_session.c_str(), 0),
             runtime::MonotonicClock::now() + kSetUpBound, &reply, why)) {
    if (const int eis = KeepSocketOf(reply, "ConnectToEIS", why); eis >= 0) {
      why = StartEmulatedInput(eis, kGiver, std::nullopt);
    }
  }
  if (!why.empty()) {
    EndEmulatedInput();
    Refuse("the remote-desktop portal gave no emulated input (" + why + ")");
    return;
  }
  g_grant = Grant::kAllowed;
}

int OnSessionClosed(sd_bus_message*, void*, sd_bus_error*) {
  if (g_ending || g_grant == Grant::kRefused) {
    return 0;
  }
  if (g_grant == Grant::kAsked) {
    Refuse("the desktop closed its remote-desktop session before it was allowed");
    return 0;
  }
  std::fputs("clickburst: the desktop ended its remote-desktop session, so clickburst ends now\n",
             stderr);
  runtime::EndProgram();
}

void OnBusReadable() {
  ProcessBus(g_bus, "the remote-desktop portal's session", [] {
    if (std::exchange(g_started.came, false) && g_grant == Grant::kAsked) {
      OnStartAnswered();
    }
  });
}

// Until the user allows it nothing is sent; once refused, XTest clicks.
void PortalLeftButton(bool pressed) {
  if (g_grant == Grant::kAllowed) {
    EmulatedLeftButton(pressed);
  } else if (g_grant == Grant::kRefused) {
    if (g_xtest == nullptr) {
      g_xtest = BindXTestLeftButton();
    }
    g_xtest(pressed);
  }
}

// The end of input: the device's, then the session closed, then the bus.
void EndPortalInput() {
  g_ending = true;
  runtime::UnwatchReadable(sd_bus_get_fd(g_bus));
  EndEmulatedInput();
  if (!g_session.empty()) {
    sd_bus_message* close_call = NewCall(g_bus, kPortalName, g_session.c_str(),
                                         "org.freedesktop.portal.Session", "Close", nullptr);
    if (close_call != nullptr && sd_bus_message_set_expect_reply(close_call, 0) >= 0) {
      sd_bus_send(g_bus, close_call, nullptr);
    }
    sd_bus_message_unref(close_call);
    FlushBusWithin(g_bus);
  }
  g_bus = sd_bus_close_unref(g_bus);
}

// The session created, its pointer selected and its Start sent; false with `cause` where the
// portal refused a step, or empty where it has no remote desktop with EIS.
bool AskPortal(runtime::Instant deadline, std::string& cause) {
  if (RemoteDesktopVersion(deadline, cause) < kConnectToEisVersion) {
    return false;
  }
  if (!LoadLibei(cause) ||
      !Ask(NewCall(g_bus, kPortalName, kPortalPath, kRemoteDesktop, "CreateSession", "a{sv}", 2,
                   "handle_token", "s", "clickburst_create", "session_handle_token", "s",
                   "clickburst"),
           "clickburst_create", g_created, deadline, cause) ||
      !Answered(g_created, "CreateSession", deadline, cause)) {
    return false;
  }
  g_session = g_created.session;
  if (g_session.empty()) {
    cause = "CreateSession: a Response without the session's handle";
    return false;
  }
  if (!WatchSignalBy(g_bus, deadline, kPortalName, g_session.c_str(),
                     "org.freedesktop.portal.Session", "Closed", &OnSessionClosed, nullptr,
                     cause)) {
    return false;
  }
  return Ask(NewCall(g_bus, kPortalName, kPortalPath, kRemoteDesktop, "SelectDevices", "oa{sv}",
                     g_session.c_str(), 2, "handle_token", "s", "clickburst_select", "types", "u",
                     kPortalPointer),
             "clickburst_select", g_selected, deadline, cause) &&
         Answered(g_selected, "SelectDevices", deadline, cause) &&
         Ask(NewCall(g_bus, kPortalName, kPortalPath, kRemoteDesktop, "Start", "osa{sv}",
                     g_session.c_str(), "", 1, "handle_token", "s", "clickburst_start"),
             "clickburst_start", g_started, deadline, cause);
}

}  // namespace

LeftButtonRoutine OpenRemoteDesktopPortal(runtime::Instant deadline, std::string& refusal) {
  std::string cause;
  // A bus that fails to open has been named already, by GNOME's way in.
  g_bus = OpenSessionBusBy(deadline, cause);
  cause.clear();
  if (g_bus == nullptr || !AskPortal(deadline, cause)) {
    if (!cause.empty()) {
      refusal += (refusal.empty() ? "" : "; and ") +
                 ("the remote-desktop portal gave clickburst no session (" + cause + ")");
    }
    g_bus = sd_bus_close_unref(g_bus);
    return nullptr;
  }
  runtime::SetClickInputEnd(&EndPortalInput);
  runtime::WatchReadable(sd_bus_get_fd(g_bus), &OnBusReadable);
  OnBusReadable();  // a desktop that allowed it beforehand may have answered already
  if (g_grant == Grant::kAsked) {
    std::fputs(
        "clickburst: the desktop's remote-desktop portal may ask whether clickburst may control "
        "the pointer: if a dialog appears now, allow it before pressing Start; until it is "
        "allowed no click is sent\n",
        stderr);
  }
  return &PortalLeftButton;
}

}  // namespace clickburst::input
