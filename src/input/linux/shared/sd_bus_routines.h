// The sd-bus routines the program uses, bound by name from libsystemd.so.0 at their first call
// (late_binding.h), so that the program starts on systems without systemd. Each keeps the name
// and type of sd-bus's own declaration; SessionBus::Open loads the library first, and no other
// is called before it succeeds.
//
// Usage: sd::sd_bus_message_unref(message);
#pragma once

#include <systemd/sd-bus.h>

#include "runtime/late_binding.h"

namespace clickburst::input::sd {

inline constexpr const char* kLibsystemd = "libsystemd.so.0";

// A routine's name, not an expression: it cannot be parenthesised.
#define CLICKBURST_SD_BUS_ROUTINE(name) \
  inline runtime::DeclaredRoutine<decltype(::name)> name { kLibsystemd, #name }  // NOLINT
CLICKBURST_SD_BUS_ROUTINE(sd_bus_call);
CLICKBURST_SD_BUS_ROUTINE(sd_bus_call_async);
CLICKBURST_SD_BUS_ROUTINE(sd_bus_close_unref);
CLICKBURST_SD_BUS_ROUTINE(sd_bus_error_free);
CLICKBURST_SD_BUS_ROUTINE(sd_bus_get_fd);
CLICKBURST_SD_BUS_ROUTINE(sd_bus_get_n_queued_write);
CLICKBURST_SD_BUS_ROUTINE(sd_bus_get_unique_name);
CLICKBURST_SD_BUS_ROUTINE(sd_bus_is_ready);
CLICKBURST_SD_BUS_ROUTINE(sd_bus_match_signal);
CLICKBURST_SD_BUS_ROUTINE(sd_bus_message_append);
CLICKBURST_SD_BUS_ROUTINE(sd_bus_message_enter_container);
CLICKBURST_SD_BUS_ROUTINE(sd_bus_message_exit_container);
CLICKBURST_SD_BUS_ROUTINE(sd_bus_message_get_destination);
CLICKBURST_SD_BUS_ROUTINE(sd_bus_message_get_error);
CLICKBURST_SD_BUS_ROUTINE(sd_bus_message_get_member);
CLICKBURST_SD_BUS_ROUTINE(sd_bus_message_new_method_call);
CLICKBURST_SD_BUS_ROUTINE(sd_bus_message_read);
CLICKBURST_SD_BUS_ROUTINE(sd_bus_message_ref);
CLICKBURST_SD_BUS_ROUTINE(sd_bus_message_set_expect_reply);
CLICKBURST_SD_BUS_ROUTINE(sd_bus_message_skip);
CLICKBURST_SD_BUS_ROUTINE(sd_bus_message_unref);
CLICKBURST_SD_BUS_ROUTINE(sd_bus_open_user);
CLICKBURST_SD_BUS_ROUTINE(sd_bus_process);
CLICKBURST_SD_BUS_ROUTINE(sd_bus_send);
CLICKBURST_SD_BUS_ROUTINE(sd_bus_set_method_call_timeout);
CLICKBURST_SD_BUS_ROUTINE(sd_bus_wait);
#undef CLICKBURST_SD_BUS_ROUTINE

}  // namespace clickburst::input::sd
