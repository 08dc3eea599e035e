#include "runtime/fatal_error.h"

#include <cstdio>
#include <string>
#include <utility>

#include "runtime/end_program.h"
#include "runtime/platform.h"

namespace clickburst::runtime {
namespace {

constexpr std::string_view kRunTimeErrorTitle = "clickburst: run-time error";
constexpr std::string_view kNoDisplayTitle = "clickburst: no display";
constexpr std::string_view kConnectionLostTitle = "clickburst: connection lost";

[[noreturn]] void Report(std::string_view title, std::string_view description, int exit_status) {
  // Input first, report second: nothing may stay pressed, be sent late at wherever the pointer
  // is by then, or be read from a watched connection while the dialog waits.
  EndClickInput();
  // Standard error next: on Linux it reaches the terminal or the session's log whatever
  // happens next. A Windows GUI program's standard error goes nowhere unless redirected:
  // there the dialog, which comes up on top, is the report a user sees.
  std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(title.size()), title.data(),
               static_cast<int>(description.size()), description.data());
  std::fflush(stderr);
  // One dialog: a failure raised from inside its wait (the display lost too) is only printed.
  static bool dialog_shown = false;
  if (!std::exchange(dialog_shown, true)) {
    ShowErrorDialog(title, description);
  }
  ExitProcessWith(exit_status);
}

std::string Hex(StatusCode status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
  return text;
}

}  // namespace

void RaiseFatalError(std::string_view description, int exit_status) {
  Report(exit_status == kExitNoDisplay ? kNoDisplayTitle : kRunTimeErrorTitle, description,
         exit_status);
}

void RaiseConnectionLost(std::string_view description) {
  Report(kConnectionLostTitle, description, kExitNoDisplay);
}

void RaiseRunTimeError(std::string_view description) {
  RaiseFatalError(description, kExitRunTimeError);
}

void RaisePropertySetError(StatusCode status, std::string_view control, std::string_view property) {
  std::string text;
  text.append("setting ").append(control).append(".").append(property);
  text.append(" failed with status ").append(Hex(status));
  RaiseRunTimeError(text);
}

}  // namespace clickburst::runtime
