// The user's session bus at set-up, for the ways in that are asked for over it (GNOME's remote
// desktop, KWin's emulated input, the desktop's remote-desktop portal). sd-bus waits 25 s or
// more by default, for the daemon's greeting and for each reply; here the greeting and every
// call end at the set-up's deadline instead, and a failure is named by its real cause. UI
// thread only.
//
// Usage: sd_bus* bus = OpenSessionBusBy(deadline, refusal);
//        if (bus && CallBy(bus, deadline, dest, path, iface, "Start", nullptr, cause)) ...
#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/clock.h"

namespace clickburst::input {

// The user's bus, once its daemon has let this connection in. nullptr where that fails by
// `deadline`: `refusal` then says why, or stays empty where the session has no bus at all.
// What it returns is closed with sd_bus_close_unref (a flush waits without bound).
sd_bus* OpenSessionBusBy(runtime::Instant deadline, std::string& refusal);

// Microseconds left until `deadline`; 0 once it has passed.
std::uint64_t MicrosecondsLeft(runtime::Instant deadline);

// Why `step` failed, in a notice's words: the set-up's time ran out waiting for `whom`, else
// the error's message, else its name, else errno `r`'s text.
std::string CauseOf(std::string_view step, int r, const sd_bus_error& error,
                    runtime::Instant deadline, std::string_view whom);

// Sends `call` (taken) and waits for its reply by `deadline`; `reply` may be null. On failure,
// `cause` says why, naming the call's member.
bool CallBy(sd_bus* bus, sd_bus_message* call, runtime::Instant deadline, sd_bus_message** reply,
            std::string& cause);

// A method call with `types` and `values` appended (sd_bus_message_append); nullptr on failure.
template <class... Values>
sd_bus_message* NewCall(sd_bus* bus, const char* destination, const char* path,
                        const char* interface, const char* member, const char* types,
                        Values... values) {
  sd_bus_message* call = nullptr;
  if (sd_bus_message_new_method_call(bus, &call, destination, path, interface, member) < 0 ||
      (types != nullptr && sd_bus_message_append(call, types, values...) < 0)) {
    return sd_bus_message_unref(call);
  }
  return call;
}

// The cause of a reply without the value of `type` it should carry; `r` is what reading it gave.
std::string WithoutWhatItShouldCarry(std::string_view step, const char* type, int r);

// Reads the reply's one value of `type`, then lets the reply go; on a reply of another
// signature, `cause` says so.
template <class Value>
bool ReadReply(sd_bus_message* reply, std::string_view step, const char* type, Value* value,
               std::string& cause) {
  const int r = sd_bus_message_read(reply, type, value);
  sd_bus_message_unref(reply);
  if (r <= 0) {
    cause = WithoutWhatItShouldCarry(step, type, r);
  }
  return r > 0;
}

// The socket the reply to `step` carries first (ours to close), kept beyond the reply, which
// it lets go; -1 where it carries none or it cannot be kept, `cause` then saying why.
int KeepSocketOf(sd_bus_message* reply, std::string_view step, std::string& cause);

// The process that owns `name` on the bus, 0 where nobody does; on failure, `cause` says why.
bool NameOwnerProcess(sd_bus* bus, const char* name, runtime::Instant deadline, std::uint32_t& pid,
                      std::string& cause);

// Watches the signal `member` of `interface` that `sender` sends from `path`, handled by
// `handler` with `data`; the match is added by `deadline`. On failure, `cause` says why.
bool WatchSignalBy(sd_bus* bus, runtime::Instant deadline, const char* sender, const char* path,
                   const char* interface, const char* member, sd_bus_message_handler_t handler,
                   void* data, std::string& cause);

// A fatal error: the session bus is lost, and with it `what` (a way in's session); errno `error`
// says why.
[[noreturn]] void RaiseBusLost(std::string_view what, int error);

// Handles everything that has come in on `bus`, running `after_each` (if any) after each
// message; a bus that fails is RaiseBusLost(what, ...).
void ProcessBus(sd_bus* bus, std::string_view what, void (*after_each)() = nullptr);

// Writes what sd-bus has queued for `bus`, waiting for room at most runtime::kSocketRoomWait:
// 0, ETIME, or the errno that ended the connection.
int FlushBusWithin(sd_bus* bus);

}  // namespace clickburst::input
