// Shared doubles for unit tests: the end of the process as an exception, and a recorder that
// stands in for the platform's mouse-input routine, keeping every call with its virtual time.
// Tests write virtual times as whole milliseconds from the virtual clock's zero.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "runtime/clock.h"

namespace clickburst::testing {

// Thrown where the program would have ended its process.
struct ProcessEnded {
  int status;
};

// Makes EndProgram and the fatal-error path throw ProcessEnded instead of exiting.
void ThrowOnProcessExit();

// Runs `action`; gives the exit status if it ended the process, none if it returned. With a
// `report`, what it wrote to standard error meanwhile goes there instead.
std::optional<int> ExitStatusOf(const std::function<void()>& action, std::string* report = nullptr);

using MsList = std::vector<long long>;
constexpr runtime::Instant Ms(long long ms) {
  return runtime::Instant(std::chrono::milliseconds(ms));
}
long long MsOf(runtime::Instant instant);
// `count` instants `period_ms` apart, from `first_ms` on.
MsList Grid(long long first_ms, long long period_ms, std::size_t count);

struct MouseCall {
  std::uint32_t flags;
  std::uint32_t dx;
  std::uint32_t dy;
  std::uint32_t data;
  std::uintptr_t extra_info;
  runtime::Instant at;
  bool operator==(const MouseCall&) const = default;
};

std::ostream& operator<<(std::ostream& out, const MouseCall& call);

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
  // The milliseconds of the presses, one per click.
  MsList PressMs() const;

 private:
  static void Record(std::uint32_t flags, std::uint32_t dx, std::uint32_t dy, std::uint32_t data,
                     std::uintptr_t extra_info);

  const runtime::Clock& clock_;
  std::vector<MouseCall> calls_;
  std::function<void()> on_release_;
};

}  // namespace clickburst::testing
