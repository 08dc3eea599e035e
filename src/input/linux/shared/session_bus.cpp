#include "input/linux/shared/session_bus.h"

#include <fcntl.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "input/linux/shared/notice.h"
#include "input/way_in.h"
#include "runtime/end_program.h"
#include "runtime/fatal_error.h"
#include "runtime/socket_wait.h"

namespace clickburst::input {
namespace {

// One try at writing what sd-bus has queued, for SendWithin: sd_bus_flush would wait without
// bound; sd_bus_process writes what the socket takes.
int TryFlush(void* bus_data) {
  auto* bus = static_cast<sd_bus*>(bus_data);
  std::uint64_t queued = 0;
  if (const int r = sd::sd_bus_get_n_queued_write(bus, &queued); r < 0) {
    return -r;
  }
  if (queued == 0) {
    return 0;
  }
  if (const int r = sd::sd_bus_process(bus, nullptr); r < 0) {
    return -r;
  }
  return EAGAIN;
}

// sd-bus would wait for the daemon's greeting (authentication, then Hello) past the deadline:
// its own waits run from sd_bus_call with their default of 25 s or more.
int WaitUntilRunning(sd_bus* bus, runtime::Instant deadline) {
  for (;;) {
    if (const int r = sd::sd_bus_is_ready(bus); r != 0) {
      return r < 0 ? r : 0;
    }
    const int processed = sd::sd_bus_process(bus, nullptr);
    if (processed < 0) {
      return processed;
    }
    if (processed > 0) {
      continue;
    }
    const std::uint64_t left_us = MicrosecondsLeft(deadline);
    if (left_us == 0) {
      return -ETIME;
    }
    if (const int r = sd::sd_bus_wait(bus, left_us); r < 0) {
      return r;
    }
  }
}

}  // namespace

std::uint64_t MicrosecondsLeft(runtime::Instant deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::microseconds>(deadline - runtime::MonotonicClock::now());
  return left.count() > 0 ? static_cast<std::uint64_t>(left.count()) : 0;
}

std::string CauseOf(std::string_view step, int r, const sd_bus_error& error,
                    runtime::Instant deadline, std::string_view whom) {
  const std::string cause = std::string(step) + ": ";
  if (MicrosecondsLeft(deadline) == 0) {
    return cause + SetUpOverrun(whom);
  }
  if (error.message != nullptr && *error.message != '\0') {
    return cause + error.message;
  }
  return cause + (error.name != nullptr ? error.name : std::strerror(-r));
}

std::string ReplyWithout(std::string_view step, const char* type, int r) {
  return std::string(step) + ": a reply without the " + type + " it should carry (" +
         std::strerror(r < 0 ? -r : ENXIO) + ")";
}

sd_bus* SessionBus::Open(runtime::Instant deadline) {
  if (std::exchange(opened_, true)) {
    return bus_;
  }
  std::string why;
  if (!runtime::LoadOptionalLibrary(sd::kLibsystemd, why)) {
    failure_ = std::string(sd::kLibsystemd) +
               ", which the ways in over the session bus need, cannot be loaded (" + why + ")";
    return nullptr;
  }
  if (const int r = sd::sd_bus_open_user(&bus_); r < 0) {
    // No bus named, or none where it should be, is a session without one, not a broken one.
    if (r != -ENOMEDIUM && r != -ENOENT) {
      failure_ = std::string("the session bus could not be opened (") + std::strerror(-r) + ")";
    }
    bus_ = nullptr;
  } else if (const int ready = WaitUntilRunning(bus_, deadline); ready < 0) {
    failure_ = "the session bus did not let clickburst in (" +
               CauseOf("connecting", ready, SD_BUS_ERROR_NULL, deadline, "the session bus") + ")";
    Close();
  }
  return bus_;
}

void SessionBus::Close() {
  if (bus_ != nullptr) {
    bus_ = sd::sd_bus_close_unref(bus_);
  }
}

bool SessionBus::Call(sd_bus_message* call, runtime::Instant deadline, sd_bus_message** reply,
                      std::string& cause, std::string* error_name) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  const char* member = call != nullptr ? sd::sd_bus_message_get_member(call) : nullptr;
  const char* destination = call != nullptr ? sd::sd_bus_message_get_destination(call) : nullptr;
  const std::uint64_t left_us = MicrosecondsLeft(deadline);
  // sd-bus reads a timeout of 0 as its default of 25 s.
  const int r = call == nullptr ? -ENOMEM
                : left_us == 0  ? -ETIME
                                : sd::sd_bus_call(bus_, call, left_us, &error, reply);
  if (r < 0) {
    cause = CauseOf(
        member != nullptr ? member : "a call", r, error, deadline,
        std::string("the session bus or ") + (destination != nullptr ? destination : "its peer"));
    if (error_name != nullptr) {
      *error_name = error.name != nullptr ? error.name : "";
    }
  }
  sd::sd_bus_error_free(&error);
  sd::sd_bus_message_unref(call);
  return r >= 0;
}

bool SessionBus::NameOwnerProcess(const char* name, runtime::Instant deadline, std::uint32_t& pid,
                                  std::string& cause) {
  constexpr const char* kBus = "org.freedesktop.DBus";
  constexpr const char* kPath = "/org/freedesktop/DBus";
  sd_bus_message* reply = nullptr;
  int has_owner = 0;
  pid = 0;
  if (!Call(NewCall(kBus, kPath, kBus, "NameHasOwner", "s", name), deadline, &reply, cause) ||
      !ReadReply(reply, "NameHasOwner", "b", &has_owner, cause)) {
    return false;
  }
  return has_owner == 0 ||
         (Call(NewCall(kBus, kPath, kBus, "GetConnectionUnixProcessID", "s", name), deadline,
               &reply, cause) &&
          ReadReply(reply, "GetConnectionUnixProcessID", "u", &pid, cause));
}

bool SessionBus::WatchSignal(runtime::Instant deadline, const char* sender, const char* path,
                             const char* interface, const char* member,
                             sd_bus_message_handler_t handler, void* data, std::string& cause) {
  // The match is added by a call of its own to the bus daemon, with the calls' timeout.
  const std::uint64_t left_us = MicrosecondsLeft(deadline);
  int r = left_us == 0 ? -ETIME : sd::sd_bus_set_method_call_timeout(bus_, left_us);
  if (r >= 0) {
    r = sd::sd_bus_match_signal(bus_, nullptr, sender, path, interface, member, handler, data);
  }
  if (r < 0) {
    cause = CauseOf("watching the " + std::string(member) + " signal (AddMatch)", r,
                    SD_BUS_ERROR_NULL, deadline, "the session bus");
  }
  return r >= 0;
}

void SessionBus::Process(std::string_view what, void (*after_each)()) {
  for (;;) {
    const int r = sd::sd_bus_process(bus_, nullptr);
    if (r < 0) {
      RaiseBusLost(what, -r);
    }
    if (after_each != nullptr) {
      after_each();
    }
    if (!ending_notice_.empty()) {
      Notice(ending_notice_, this);
      runtime::EndProgram();
    }
    if (r == 0) {
      return;
    }
  }
}

int SessionBus::FlushWithin(runtime::Duration wait) {
  return bus_ != nullptr ? runtime::SendWithin(sd::sd_bus_get_fd(bus_), &TryFlush, bus_, wait)
                         : ENOTCONN;
}

int TakeSocketFromReply(sd_bus_message* reply, std::string_view step, std::string& cause) {
  int fd = -1;
  const int r = sd::sd_bus_message_read(reply, "h", &fd);
  // The descriptor belongs to the reply: a copy is kept before the reply goes.
  const int kept = r > 0 ? fcntl(fd, F_DUPFD_CLOEXEC, 3) : -1;
  const int error = errno;
  if (r <= 0) {
    cause = ReplyWithout(step, "socket", r);
  } else if (kept < 0) {
    cause = "keeping the socket of " + std::string(step) + ": " + std::strerror(error);
  }
  sd::sd_bus_message_unref(reply);
  return kept;
}

void RaiseBusLost(std::string_view what, int error) {
  runtime::RaiseConnectionLost("lost the connection to the session bus, and with it " +
                               std::string(what) + " (" + std::strerror(error) + ")");
}

}  // namespace clickburst::input
