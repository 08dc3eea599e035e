// The desktop's remote-desktop portal (org.freedesktop.portal.RemoteDesktop, version 2 and
// later): the way in of desktops that offer no other, COSMIC's among them, and of sandboxed
// programs. A session is created and its pointer selected within the set-up's deadline; its
// Start brings up the desktop's dialog as the window opens, and its answer comes whenever the
// user gives it, through the bus watch. Allowed, the session's EIS socket (ConnectToEIS) gets
// the libei device of ei_device.h; until then nothing is clicked, so no click waits to be
// replayed. Refused, the clicks go through XTest. No restore token is kept: the program keeps
// no state between runs, so the dialog comes at every run.
#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "input/linux/shared/ei_device.h"
#include "input/linux/shared/notice.h"
#include "input/linux/shared/session_bus.h"
#include "input/linux/ways_in.h"
#include "runtime/clock.h"
#include "runtime/fatal_error.h"
#include "runtime/socket_wait.h"

namespace clickburst::input {
namespace {

constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kRemoteDesktop = "org.freedesktop.portal.RemoteDesktop";
constexpr std::uint32_t kConnectToEisVersion = 2;  // the interface's first with ConnectToEIS
constexpr std::uint32_t kPortalPointer = 2;        // device types: keyboard 1, pointer 2
constexpr const char* kPortal = "the remote-desktop portal";

// Where the session stands; the dialog's answer moves it on.
enum class Grant { kAsked, kAllowed, kRefused };

// A request's Response signal: its code (0 granted, 1 cancelled by the user, 2 otherwise) and
// the session handle it may carry.
struct Response {
  bool came = false;
  std::uint32_t code = 2;
  std::string session;
};

SessionBus* g_bus = nullptr;
// A time_point's constructor cannot throw, whatever its declaration says.
runtime::Instant g_set_up_deadline;  // NOLINT(cert-err58-cpp)
std::string g_session;               // its object path, once created
Grant g_grant = Grant::kAsked;
// From then on, a device should resume within kSetUpBound.
runtime::Instant g_allowed_at;  // NOLINT(cert-err58-cpp)
bool g_ending = false;
bool g_said_it_may_ask = false;
// Each request's answer; the bus keeps their matches, and so their addresses, for its life.
Response g_created;
Response g_selected;
Response g_started;
ClickRoutine g_xtest = nullptr;

// The path the portal gives the request with `token`: known before the call, so that the
// match is in place before the answer can come.
std::string RequestPath(std::string_view token) {
  const char* unique = nullptr;
  std::string sender = sd::sd_bus_get_unique_name(g_bus->get(), &unique) >= 0 && unique != nullptr
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
  if (sd::sd_bus_message_read(signal, "u", &response.code) <= 0 ||
      sd::sd_bus_message_enter_container(signal, 'a', "{sv}") <= 0) {
    return 0;
  }
  while (sd::sd_bus_message_enter_container(signal, 'e', "sv") > 0) {
    const char* key = nullptr;
    const char* value = nullptr;
    if (sd::sd_bus_message_read(signal, "s", &key) > 0 &&
        std::string_view(key) == "session_handle" &&
        sd::sd_bus_message_read(signal, "v", "s", &value) > 0) {
      response.session = value;
    } else {
      sd::sd_bus_message_skip(signal, "v");
    }
    sd::sd_bus_message_exit_container(signal);
  }
  return 0;
}

// Sends `call` (taken), a request whose handle_token is `token`, with its Response watched
// into `response` from before the call; on failure, `cause` says why.
bool Ask(sd_bus_message* call, const char* token, Response& response, runtime::Instant deadline,
         std::string& cause) {
  if (!g_bus->WatchSignal(deadline, kPortalName, RequestPath(token).c_str(),
                          "org.freedesktop.portal.Request", "Response", &OnResponse, &response,
                          cause)) {
    sd::sd_bus_message_unref(call);
    return false;
  }
  return g_bus->Call(call, deadline, nullptr, cause);
}

// Waits for the Response of a request that needs no person; false, with `cause`, where it
// refused or did not come by `deadline`.
bool Answered(const Response& response, const char* step, runtime::Instant deadline,
              std::string& cause) {
  while (!response.came) {
    int r = sd::sd_bus_process(g_bus->get(), nullptr);
    if (r == 0) {
      const std::uint64_t left_us = MicrosecondsLeft(deadline);
      r = left_us == 0 ? -ETIME : sd::sd_bus_wait(g_bus->get(), left_us);
    }
    if (r < 0) {
      cause = CauseOf(step, r, SD_BUS_ERROR_NULL, deadline, kPortal);
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
  if (g_bus->Call(g_bus->NewCall(kPortalName, kPortalPath, "org.freedesktop.DBus.Properties", "Get",
                                 "ss", kRemoteDesktop, "version"),
                  deadline, &reply, failed)) {
    // A reply of another shape leaves it 0: no remote desktop to use.
    sd::sd_bus_message_read(reply, "v", "u", &version);
    sd::sd_bus_message_unref(reply);
  } else if (MicrosecondsLeft(deadline) == 0) {
    cause = failed;  // not an absence: it did not answer in time
  }
  return version;
}

// The session's end, by the desktop or by the user's answer. Xwayland is asked for its input
// now: one built with libei would otherwise bring up its own dialog at the first click, and
// replay the clicks queued behind it at once.
void Refuse(std::string_view why) {
  g_grant = Grant::kRefused;
  AskXwaylandForInput();
  Notice(std::string(why) + ", so the clicks go through X11 and reach X11 windows only", g_bus);
}

// The reply to ConnectToEIS: its socket gets the device, which the desktop resumes later.
int OnEisSocket(sd_bus_message* reply, void*, sd_bus_error*) {
  std::string why;
  if (const sd_bus_error* error = sd::sd_bus_message_get_error(reply); error != nullptr) {
    why = CauseOf("ConnectToEIS", -EIO, *error, runtime::MonotonicClock::now() + kSetUpBound,
                  kPortal);
  } else if (const int eis =
                 TakeSocketFromReply(sd::sd_bus_message_ref(reply), "ConnectToEIS", why);
             eis >= 0) {
    why = StartEmulatedInput(eis, kPortal, std::nullopt, g_bus);
  }
  if (!why.empty()) {
    EndEmulatedInput();
    Refuse("the remote-desktop portal gave no emulated input (" + why + ")");
  }
  return 0;
}

// The dialog's answer: allowed, the session's EIS socket is asked for, without blocking the
// event loop, bounded by what is left of the set-up or, after it, by a set-up's length.
void OnStartAnswered() {
  if (g_started.code != 0) {
    Refuse(g_started.code == 1 ? "remote control was not allowed in the desktop's dialog"
                               : "the remote-desktop portal did not start its session");
    return;
  }
  g_grant = Grant::kAllowed;
  g_allowed_at = runtime::MonotonicClock::now();
  const std::uint64_t left_us = MicrosecondsLeft(g_set_up_deadline);
  sd_bus_message* call = g_bus->NewCall(kPortalName, kPortalPath, kRemoteDesktop, "ConnectToEIS",
                                        "oa{sv}", g_session.c_str(), 0);
  const int r = call != nullptr
                    ? sd::sd_bus_call_async(
                          g_bus->get(), nullptr, call, &OnEisSocket, nullptr,
                          left_us != 0 ? left_us : MicrosecondsLeft(g_allowed_at + kSetUpBound))
                    : -ENOMEM;
  sd::sd_bus_message_unref(call);
  if (r < 0) {
    RaiseBusLost("the remote-desktop portal's session", -r);
  }
}

int OnSessionClosed(sd_bus_message*, void*, sd_bus_error*) {
  if (g_ending || g_grant == Grant::kRefused) {
    return 0;
  }
  if (g_grant == Grant::kAsked) {
    Refuse("the desktop closed its remote-desktop session before it was allowed");
    return 0;
  }
  g_bus->EndProgramAfterProcessing(
      "the desktop ended its remote-desktop session, so clickburst ends now");
  return 0;
}

// First read as soon as the way in is chosen: a desktop that allowed it beforehand may have
// answered already, and otherwise its dialog may be up now.
void OnBusReadable() {
  g_bus->Process("the remote-desktop portal's session", [] {
    if (std::exchange(g_started.came, false) && g_grant == Grant::kAsked) {
      OnStartAnswered();
    }
  });
  if (!std::exchange(g_said_it_may_ask, true) && g_grant == Grant::kAsked) {
    Notice(
        "the desktop's remote-desktop portal may ask whether clickburst may control the pointer: "
        "if a dialog appears now, allow it before pressing Start; until it is allowed no click is "
        "sent",
        g_bus);
  }
}

// Until the user allows it nothing is sent; once refused, XTest clicks. Allowed, a desktop that
// never resumes a device with a button would let the whole burst click nothing, unsaid.
void PortalClick(bool with_press) {
  if (g_grant == Grant::kAllowed) {
    if (!EmulatedInputResumed() && runtime::MonotonicClock::now() - g_allowed_at > kSetUpBound) {
      runtime::RaiseConnectionLost(
          "the remote-desktop portal allowed remote control, but its desktop gave clickburst no "
          "pointer device within " +
          std::to_string(kSetUpBound.count()) + " ms, so no click would reach any window");
    }
    EmulatedClick(with_press);
  } else if (g_grant == Grant::kRefused) {
    if (g_xtest == nullptr) {
      g_xtest = BindXTestClick();
    }
    g_xtest(with_press);
  }
}

// The end of input: the device's, then the session closed, then the bus.
void EndPortalInput() {
  g_ending = true;
  EndEmulatedInput();
  if (!g_session.empty()) {
    g_bus->Send(kPortalName, g_session.c_str(), "org.freedesktop.portal.Session", "Close", nullptr);
    g_bus->FlushWithin(runtime::kSocketRoomWait);
  }
  g_bus->Close();
}

// The session created, its pointer selected and its Start sent; false with `cause` where the
// portal refused a step, or empty where it has no remote desktop with EIS.
bool AskPortal(runtime::Instant deadline, std::string& cause) {
  if (RemoteDesktopVersion(deadline, cause) < kConnectToEisVersion) {
    return false;
  }
  if (!LoadLibei(cause) ||
      !Ask(g_bus->NewCall(kPortalName, kPortalPath, kRemoteDesktop, "CreateSession", "a{sv}", 2,
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
  if (!g_bus->WatchSignal(deadline, kPortalName, g_session.c_str(),
                          "org.freedesktop.portal.Session", "Closed", &OnSessionClosed, nullptr,
                          cause)) {
    return false;
  }
  return Ask(g_bus->NewCall(kPortalName, kPortalPath, kRemoteDesktop, "SelectDevices", "oa{sv}",
                            g_session.c_str(), 2, "handle_token", "s", "clickburst_select", "types",
                            "u", kPortalPointer),
             "clickburst_select", g_selected, deadline, cause) &&
         Answered(g_selected, "SelectDevices", deadline, cause) &&
         Ask(g_bus->NewCall(kPortalName, kPortalPath, kRemoteDesktop, "Start", "osa{sv}",
                            g_session.c_str(), "", 1, "handle_token", "s", "clickburst_start"),
             "clickburst_start", g_started, deadline, cause);
}

}  // namespace

WayIn OpenRemoteDesktopPortal(const SetUp& set_up) {
  g_bus = set_up.bus;
  g_set_up_deadline = set_up.deadline;
  std::string cause;
  // A bus that failed to open has been named already, by GNOME's way in.
  if (g_bus->Open(set_up.deadline) == nullptr || !AskPortal(set_up.deadline, cause)) {
    return cause.empty()
               ? WayIn{}
               : Refusal(
                     MicrosecondsLeft(set_up.deadline) == 0 ? Answer::kTimedOut : Answer::kRefused,
                     "the remote-desktop portal gave clickburst no session (" + cause + ")");
  }
  WayIn way_in = Clicks(&PortalClick, &EndPortalInput);
  way_in.watch_fd = sd::sd_bus_get_fd(g_bus->get());
  way_in.on_readable = &OnBusReadable;
  way_in.keeps_bus = true;
  return way_in;
}

}  // namespace clickburst::input
