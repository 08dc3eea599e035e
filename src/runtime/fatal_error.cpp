#include "runtime/fatal_error.h"

#include <cstdio>
#include <string>

#include "runtime/end_program.h"
#include "runtime/platform.h"

namespace clickburst::runtime {
namespace {

constexpr std::string_view kReportTitle = "clickburst: run-time error";

std::string Hex(StatusCode status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
  return text;
}

}  // namespace

void RaiseFatalError(std::string_view description, int exit_status) {
  // Standard error first: on Linux it reaches the terminal or the session's log whatever
  // happens next. A Windows GUI program's standard error goes nowhere unless redirected:
  // there the dialog, which comes up on top, is the report a user sees.
  std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(kReportTitle.size()), kReportTitle.data(),
               static_cast<int>(description.size()), description.data());
  std::fflush(stderr);
  ShowErrorDialog(kReportTitle, description);
  ExitProcessWith(exit_status);
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
