// Late binding of declared routines and the run-time error of one that cannot be bound.
#include <gtest/gtest.h>

#include <string>

#include "runtime/end_program.h"
#include "runtime/late_binding.h"
#include "support/test_support.h"

namespace clickburst::runtime {
namespace {

using clickburst::testing::ProcessEnded;

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

class LateBinding : public ::testing::Test {
 protected:
  void SetUp() override { clickburst::testing::ThrowOnProcessExit(); }

  // Binds `routine` and returns what the failure reported, with the exit status.
  template <class Signature>
  std::string BindFailure(DeclaredRoutine<Signature>& routine, int* status) {
    ::testing::internal::CaptureStderr();
    try {
      routine.Get();
      *status = -1;
    } catch (const ProcessEnded& ended) {
      *status = ended.status;
    }
    return ::testing::internal::GetCapturedStderr();
  }
};

TEST_F(LateBinding, BindsOnTheFirstCallAndKeepsTheAddress) {
  DeclaredRoutine<SystemRoutine> routine{kSystemLibrary, kSystemRoutine};
  EXPECT_FALSE(routine.Bound());
  auto* first = routine.Get();
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(routine.Bound());
  EXPECT_EQ(routine.Get(), first);
  first();  // really callable
}

TEST_F(LateBinding, CapabilityCheckRunsOnceAtBinding) {
  static int checks = 0;
  checks = 0;
  DeclaredRoutine<SystemRoutine> routine{kSystemLibrary, kSystemRoutine, [] { ++checks; }};
  routine.Get();
  routine.Get();
  EXPECT_EQ(checks, 1);
}

TEST_F(LateBinding, MissingLibraryIsARunTimeErrorNamingLibraryAndRoutine) {
  DeclaredRoutine<SystemRoutine> routine{"clickburst-no-such-library", "NoSuchRoutine"};
  int status = 0;
  const std::string report = BindFailure(routine, &status);
  EXPECT_EQ(status, kExitRunTimeError);
  EXPECT_NE(report.find("\"clickburst-no-such-library\""), std::string::npos) << report;
  EXPECT_NE(report.find("\"NoSuchRoutine\""), std::string::npos) << report;
  EXPECT_FALSE(routine.Bound());
}

TEST_F(LateBinding, MissingRoutineIsARunTimeErrorNamingLibraryAndRoutine) {
  DeclaredRoutine<SystemRoutine> routine{kSystemLibrary, "clickburst_no_such_routine"};
  int status = 0;
  const std::string report = BindFailure(routine, &status);
  EXPECT_EQ(status, kExitRunTimeError);
  EXPECT_NE(report.find(std::string("\"") + kSystemLibrary + "\""), std::string::npos) << report;
  EXPECT_NE(report.find("\"clickburst_no_such_routine\""), std::string::npos) << report;
}

}  // namespace
}  // namespace clickburst::runtime
