// The fatal-error path. Nothing in the program recovers from a failing property set or a
// routine that cannot be bound: each is a run-time error, which ends the program with
// kExitRunTimeError (end_program.h); a display or input connection that is missing or lost
// ends it with kExitNoDisplay. The statement that failed is the last its handler runs. Every
// fatal path ends the click input first (EndClickInput), then reports on standard error and
// in a dialog, titled by what failed, when a display is open.
//
// Usage: CheckPropertySet(Timer2.SetEnabled(true), "Timer2", "Enabled");
#pragma once

#include <string_view>

#include "runtime/status.h"

namespace clickburst::runtime {

[[noreturn]] void RaiseRunTimeError(std::string_view description);

// Reports and exits with `exit_status`; for failures outside any handler (no display).
[[noreturn]] void RaiseFatalError(std::string_view description, int exit_status);

// A connection the program runs on (the X display, the compositor's, the session bus) was lost
// or took no data in time: kExitNoDisplay, titled so.
[[noreturn]] void RaiseConnectionLost(std::string_view description);

[[noreturn]] void RaisePropertySetError(StatusCode status, std::string_view control,
                                        std::string_view property);

inline void CheckPropertySet(StatusCode status, std::string_view control,
                             std::string_view property) {
  if (Failed(status)) [[unlikely]] {
    RaisePropertySetError(status, control, property);
  }
}

}  // namespace clickburst::runtime
