#include "support/test_support.h"

#include <gtest/gtest.h>

#include "input/module1.h"
#include "input/mouse_event.h"
#include "runtime/end_program.h"

namespace clickburst::testing {
namespace {

MouseRecorder* g_recorder = nullptr;

[[noreturn]] void Throw(int status) { throw ProcessEnded{status}; }

}  // namespace

void ThrowOnProcessExit() { runtime::testing::ReplaceProcessExit(&Throw); }

std::optional<int> ExitStatusOf(const std::function<void()>& action, std::string* report) {
  if (report != nullptr) {
    ::testing::internal::CaptureStderr();
  }
  std::optional<int> status;
  try {
    action();
  } catch (const ProcessEnded& ended) {
    status = ended.status;
  }
  if (report != nullptr) {
    *report = ::testing::internal::GetCapturedStderr();
  }
  return status;
}

long long MsOf(runtime::Instant instant) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(instant.time_since_epoch()).count();
}

MsList Grid(long long first_ms, long long period_ms, std::size_t count) {
  MsList ms(count);
  for (std::size_t n = 0; n < count; ++n) {
    ms[n] = first_ms + period_ms * static_cast<long long>(n);
  }
  return ms;
}

std::ostream& operator<<(std::ostream& out, const MouseCall& call) {
  return out << "flags " << call.flags << " dx " << call.dx << " dy " << call.dy << " data "
             << call.data << " extra " << call.extra_info << " at "
             << call.at.time_since_epoch().count() << " ns";
}

MouseRecorder::MouseRecorder(const runtime::Clock& clock) : clock_(clock) {
  g_recorder = this;
  Module1::testing::RouteMouseEvents(&Record);
}

MouseRecorder::~MouseRecorder() {
  Module1::testing::RouteMouseEvents(nullptr);
  g_recorder = nullptr;
}

void MouseRecorder::Record(std::uint32_t flags, std::uint32_t dx, std::uint32_t dy,
                           std::uint32_t data, std::uintptr_t extra_info) {
  g_recorder->calls_.push_back({flags, dx, dy, data, extra_info, g_recorder->clock_.Now()});
  if (flags == input::kMouseEventLeftUp && g_recorder->on_release_) {
    g_recorder->on_release_();
  }
}

MsList MouseRecorder::PressMs() const {
  MsList ms;
  for (const MouseCall& call : calls_) {
    if (call.flags == input::kMouseEventLeftDown) {
      ms.push_back(MsOf(call.at));
    }
  }
  return ms;
}

}  // namespace clickburst::testing
