// Late binding of a declared platform routine: named by library and routine, looked up on
// its first call (LoadLibraryW/GetProcAddress, dlopen/dlsym) and kept for every later call.
// A library or routine that cannot be found is a run-time error that names both.
//
// Usage: DeclaredRoutine<void(unsigned)> beep{"user32", "MessageBeep"}; beep.Get()(0);
#pragma once

#include <string>
#include <string_view>

namespace clickburst::runtime {

using RoutineAddress = void (*)();

// Looks the routine up; raises the run-time error on failure. Platform backend.
RoutineAddress BindRoutine(const char* library, const char* routine);

// Loads an optional library, for routines bound from it later, without raising: false, with
// the loader's reason in `why`, where this system lacks it. Linux backend only.
bool LoadOptionalLibrary(const char* library, std::string& why);

// The run-time error of a failed lookup, naming routine, library and the platform's reason.
[[noreturn]] void RaiseBindingError(const char* library, const char* routine,
                                    std::string_view reason);

template <class Signature>
class DeclaredRoutine {
 public:
  using Pointer = Signature*;

  // `on_bind` runs once, right after a successful lookup: the place to check a capability
  // the routine depends on.
  constexpr DeclaredRoutine(const char* library, const char* routine,
                            void (*on_bind)() = nullptr) noexcept
      : library_(library), routine_(routine), on_bind_(on_bind) {}

  // A call through the routine, bound at the first.
  template <class... Args>
  decltype(auto) operator()(Args... args) {
    return Get()(args...);
  }

  Pointer Get() {
    if (address_ == nullptr) [[unlikely]] {
      auto* bound = reinterpret_cast<Pointer>(BindRoutine(library_, routine_));
      if (on_bind_ != nullptr) {
        on_bind_();
      }
      // cppcheck 2.17 takes some routines' types that return int (libei's) for int itself.
      // cppcheck-suppress AssignmentAddressToInteger
      address_ = bound;
    }
    return address_;
  }

 private:
  const char* library_;
  const char* routine_;
  void (*on_bind_)();
  Pointer address_ = nullptr;
};

}  // namespace clickburst::runtime
