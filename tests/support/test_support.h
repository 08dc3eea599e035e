// Shared doubles for unit tests: the end of the process as an exception, and a recorder that
// stands in for the platform's mouse-input routine, keeping every call with its virtual time.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "runtime/clock.h"

namespace clickburst::testing {

// Thrown where the program would have ended its process.
struct ProcessEnded {
  int status;
};

// Makes EndProgram and the fatal-error path throw ProcessEnded instead of exiting.
void ThrowOnProcessExit();

struct MouseCall {
  std::uint32_t flags;
  std::uint32_t dx;
  std::uint32_t dy;
  std::uint32_t data;
  std::uintptr_t extra_info;
  runtime::Instant at;
};

// Routes Module1 to a recorder for its lifetime; times come from `clock`.
class MouseRecorder {
 public:
  explicit MouseRecorder(const runtime::Clock& clock);
  ~MouseRecorder();
  MouseRecorder(const MouseRecorder&) = delete;
  MouseRecorder& operator=(const MouseRecorder&) = delete;

  const std::vector<MouseCall>& calls() const { return calls_; }
  // Runs after each recorded release, as the window under the pointer would see the click.
  void OnRelease(std::function<void()> action) { on_release_ = std::move(action); }
  // Instants of the presses, one per click.
  std::vector<runtime::Instant> PressTimes() const;

 private:
  static void Record(std::uint32_t flags, std::uint32_t dx, std::uint32_t dy, std::uint32_t data,
                     std::uintptr_t extra_info);

  const runtime::Clock& clock_;
  std::vector<MouseCall> calls_;
  std::function<void()> on_release_;
};

}  // namespace clickburst::testing
