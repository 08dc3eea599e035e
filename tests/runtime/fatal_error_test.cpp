// Late binding of declared routines, the run-time error of one that cannot be bound, and the
// order of the fatal path.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "runtime/end_program.h"
#include "runtime/fatal_error.h"
#include "runtime/late_binding.h"
#include "support/test_support.h"

namespace clickburst::runtime {
namespace {

// A library every machine of the platform has, a routine in it, and its signature.
#ifdef _WIN32
constexpr const char* kSystemLibrary = "kernel32";
constexpr const char* kSystemRoutine = "GetTickCount";
using SystemRoutine = unsigned long __stdcall();
#else
constexpr const char* kSystemLibrary = "libc.so.6";
constexpr const char* kSystemRoutine = "getpid";
using SystemRoutine = int();
#endif

// Counts the capability checks, which run once, right after a successful lookup.
class LateBinding : public ::testing::Test {
 protected:
  void SetUp() override {
    clickburst::testing::ThrowOnProcessExit();
    checks_ = 0;
  }
  static void CountCheck() { ++checks_; }

  static inline int checks_ = 0;
};

TEST_F(LateBinding, BindsOnTheFirstCallOnceAndKeepsTheAddress) {
  DeclaredRoutine<SystemRoutine> routine{kSystemLibrary, kSystemRoutine, &CountCheck};
  EXPECT_EQ(checks_, 0) << "bound before the first call";
  auto* first = routine.Get();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(checks_, 1);
  EXPECT_EQ(routine.Get(), first);
  EXPECT_EQ(checks_, 1) << "bound again";
  first();  // really callable
}

struct Unbindable {
  const char* case_name;
  const char* library;
  const char* routine;
};

class UnbindableRoutine : public LateBinding, public ::testing::WithParamInterface<Unbindable> {};

// Nothing is kept from a failed lookup: every call fails alike, and no check runs.
TEST_P(UnbindableRoutine, IsARunTimeErrorNamingLibraryAndRoutine) {
  const Unbindable& unbindable = GetParam();
  DeclaredRoutine<SystemRoutine> routine{unbindable.library, unbindable.routine, &CountCheck};
  for (int call = 1; call <= 2; ++call) {
    SCOPED_TRACE(call);
    std::string report;
    EXPECT_EQ(clickburst::testing::ExitStatusOf([&] { routine.Get(); }, &report),
              kExitRunTimeError);
    EXPECT_NE(report.find(std::string("\"") + unbindable.library + "\""), std::string::npos)
        << report;
    EXPECT_NE(report.find(std::string("\"") + unbindable.routine + "\""), std::string::npos)
        << report;
  }
  EXPECT_EQ(checks_, 0);
}

INSTANTIATE_TEST_SUITE_P(
    LateBinding, UnbindableRoutine,
    ::testing::Values(Unbindable{"MissingLibrary", "clickburst-no-such-library", "NoSuchRoutine"},
                      Unbindable{"MissingRoutine", kSystemLibrary, "clickburst_no_such_routine"}),
    [](const auto& info) { return std::string(info.param.case_name); });

// The input ends before the report, whose dialog waits for the user: nothing stays pressed,
// nor goes out late, meanwhile.
using FatalError = LateBinding;
TEST_F(FatalError, EndsTheClickInputBeforeItsReport) {
  SetClickInputEnd([] { std::fputs("input ended\n", stderr); });
  std::string report;
  EXPECT_EQ(clickburst::testing::ExitStatusOf([] { RaiseConnectionLost("the bus went"); }, &report),
            kExitNoDisplay);
  EXPECT_EQ(report, "input ended\nclickburst: connection lost: the bus went\n");
}

}  // namespace
}  // namespace clickburst::runtime
