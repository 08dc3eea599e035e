#include "support/test_support.h"

#include "input/module1.h"
#include "input/mouse_event.h"
#include "runtime/end_program.h"

namespace clickburst::testing {
namespace {

MouseRecorder* g_recorder = nullptr;

[[noreturn]] void Throw(int status) { throw ProcessEnded{status}; }

}  // namespace

void ThrowOnProcessExit() { runtime::testing::ReplaceProcessExit(&Throw); }

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

std::vector<runtime::Instant> MouseRecorder::PressTimes() const {
  std::vector<runtime::Instant> times;
  for (const MouseCall& call : calls_) {
    if (call.flags == input::kMouseEventLeftDown) {
      times.push_back(call.at);
    }
  }
  return times;
}

}  // namespace clickburst::testing
