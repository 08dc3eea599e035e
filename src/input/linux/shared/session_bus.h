// The user's session bus, one connection for every way in that is asked for over it (GNOME's
// remote desktop, KWin's emulated input, the remote-desktop portal) and for the notices' desktop
// notifications. Opened by the first that asks, within the set-up's deadline, and kept by the
// way in that is chosen: mutter's session and KWin's devices belong to the connection that
// asked. sd-bus (libsystemd.so.0) is bound by name, so a system without systemd still runs the
// other ways in. Every call waits at most until a deadline (sd-bus waits 25 s by default), and a
// failure is named by its real cause. UI thread only.
//
// Usage: if (sd_bus* bus = set_up.bus->Open(deadline)) {
//          set_up.bus->Call(set_up.bus->NewCall(dest, path, iface, "Start", nullptr), ...); }
#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "input/linux/shared/sd_bus_routines.h"
#include "runtime/clock.h"

namespace clickburst::input {

// Microseconds left until `deadline`; 0 once it has passed.
std::uint64_t MicrosecondsLeft(runtime::Instant deadline);

// A fatal error: the session bus is lost, and with it `what` (a way in's session); errno `error`
// says why.
[[noreturn]] void RaiseBusLost(std::string_view what, int error);

class SessionBus {
 public:
  SessionBus() = default;
  SessionBus(const SessionBus&) = delete;
  SessionBus& operator=(const SessionBus&) = delete;
  ~SessionBus() { Close(); }

  // The bus, once its daemon has let this connection in, opened at the first call only. nullptr
  // where that failed by `deadline`: Failure() then says why, or is empty where the session has
  // no bus at all (or this system no sd-bus to reach it with).
  sd_bus* Open(runtime::Instant deadline);
  const std::string& Failure() const { return failure_; }
  sd_bus* get() const { return bus_; }

  // Closes it, without a flush (one waits without bound on a bus that takes nothing).
  void Close();

  // A method call with `types` and `values` appended (sd_bus_message_append); nullptr on failure.
  template <class... Values>
  sd_bus_message* NewCall(const char* destination, const char* path, const char* interface,
                          const char* member, const char* types, Values... values) {
    sd_bus_message* call = nullptr;
    if (sd::sd_bus_message_new_method_call(bus_, &call, destination, path, interface, member) < 0 ||
        (types != nullptr && sd::sd_bus_message_append(call, types, values...) < 0)) {
      return sd::sd_bus_message_unref(call);
    }
    return call;
  }

  // Sends `call` (taken) and waits for its reply by `deadline`; `reply` may be null. On failure,
  // `cause` says why, naming the call's member, and `error_name`, if given, is the D-Bus error's
  // name (empty where none came).
  bool Call(sd_bus_message* call, runtime::Instant deadline, sd_bus_message** reply,
            std::string& cause, std::string* error_name = nullptr);

  // Queues a method call that wants no reply (the peer then sends none, so nothing piles up to
  // be read during the burst): sd-bus's r, negative on failure.
  template <class... Values>
  int Send(const char* destination, const char* path, const char* interface, const char* member,
           const char* types, Values... values) {
    sd_bus_message* call = NewCall(destination, path, interface, member, types, values...);
    int r = call != nullptr ? sd::sd_bus_message_set_expect_reply(call, 0) : -ENOMEM;
    if (r >= 0) {
      r = sd::sd_bus_send(bus_, call, nullptr);
    }
    sd::sd_bus_message_unref(call);
    return r;
  }

  // The process that owns `name` on the bus, 0 where nobody does; on failure, `cause` says why.
  bool NameOwnerProcess(const char* name, runtime::Instant deadline, std::uint32_t& pid,
                        std::string& cause);

  // Watches the signal `member` of `interface` that `sender` sends from `path`, handled by
  // `handler` with `data`; the match is added by `deadline`. On failure, `cause` says why.
  bool WatchSignal(runtime::Instant deadline, const char* sender, const char* path,
                   const char* interface, const char* member, sd_bus_message_handler_t handler,
                   void* data, std::string& cause);

  // Handles everything that has come in, running `after_each` (if any) after each message; a bus
  // that fails is RaiseBusLost(what, ...). Then, where a handler asked for it, ends the program.
  void Process(std::string_view what, void (*after_each)() = nullptr);

  // From a handler inside Process: the desktop ended what the clicks go through. The program
  // ends with `notice` once sd-bus has returned, as it cannot be re-entered to flush the end of
  // input from inside its own handler.
  void EndProgramAfterProcessing(std::string notice) { ending_notice_ = std::move(notice); }

  // Writes what sd-bus has queued, waiting for room at most `wait`: 0, ETIME, or the errno that
  // ended the connection.
  int FlushWithin(runtime::Duration wait);

 private:
  sd_bus* bus_ = nullptr;
  bool opened_ = false;
  std::string failure_;
  std::string ending_notice_;
};

// Why `step` failed, in a notice's words: the set-up's time ran out waiting for `whom`, else
// the error's message, else its name, else errno `r`'s text.
std::string CauseOf(std::string_view step, int r, const sd_bus_error& error,
                    runtime::Instant deadline, std::string_view whom);

// The cause of a reply without the value of `type` it should carry; `r` is what reading it gave.
std::string ReplyWithout(std::string_view step, const char* type, int r);

// Reads the reply's one value of `type`, then lets the reply go; on a reply of another
// signature, `cause` says so.
template <class Value>
bool ReadReply(sd_bus_message* reply, std::string_view step, const char* type, Value* value,
               std::string& cause) {
  const int r = sd::sd_bus_message_read(reply, type, value);
  sd::sd_bus_message_unref(reply);
  if (r <= 0) {
    cause = ReplyWithout(step, type, r);
  }
  return r > 0;
}

// The socket the reply to `step` carries first (ours to close), kept beyond the reply, which
// it lets go; -1 where it carries none or it cannot be kept, `cause` then saying why.
int TakeSocketFromReply(sd_bus_message* reply, std::string_view step, std::string& cause);

}  // namespace clickburst::input
