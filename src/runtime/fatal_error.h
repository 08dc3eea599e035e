// The fatal-error path. Nothing in the program recovers from a failing property set or a
// routine that cannot be bound: each is a run-time error, reported on standard error (and in
// a dialog when a display is open), which ends the program with kExitRunTimeError
// (end_program.h). The statement that failed is the last its handler runs.
//
// Usage: CheckPropertySet(Timer2.SetEnabled(true), "Timer2", "Enabled");
#pragma once

#include <string_view>

#include "runtime/status.h"

namespace clickburst::runtime {

[[noreturn]] void RaiseRunTimeError(std::string_view description);

// Reports and exits with `exit_status`; for failures outside any handler (no display).
[[noreturn]] void RaiseFatalError(std::string_view description, int exit_status);

[[noreturn]] void RaisePropertySetError(StatusCode status, std::string_view control,
                                        std::string_view property);

inline void CheckPropertySet(StatusCode status, std::string_view control,
                             std::string_view property) {
  if (Failed(status)) [[unlikely]] {
    RaisePropertySetError(status, control, property);
  }
}

}  // namespace clickburst::runtime
