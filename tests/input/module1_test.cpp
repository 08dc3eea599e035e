// Module1: a click is exactly one press then one release, with no motion and no data.
#include <gtest/gtest.h>

#include "input/module1.h"
#include "input/mouse_event.h"
#include "support/test_support.h"
#include "support/virtual_driver.h"

namespace clickburst::Module1 {
namespace {

class Module1Calls : public ::testing::Test {
 protected:
  clickburst::testing::VirtualDriver time_;
  clickburst::testing::MouseRecorder mouse_{time_};
};

TEST_F(Module1Calls, ClickIsOnePressThenOneReleaseAtThePointer) {
  ClickLeftButton();
  const auto& calls = mouse_.calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].flags, 0x0002u);
  EXPECT_EQ(calls[1].flags, 0x0004u);
  for (const auto& call : calls) {
    EXPECT_EQ(call.dx, 0u);
    EXPECT_EQ(call.dy, 0u);
    EXPECT_EQ(call.data, 0u);
    EXPECT_EQ(call.extra_info, 0u);
  }
}

TEST_F(Module1Calls, PressAndReleaseAreOneCallWithOneFlagEach) {
  PressLeftButton();
  ASSERT_EQ(mouse_.calls().size(), 1u);
  EXPECT_EQ(mouse_.calls()[0].flags, input::kMouseEventLeftDown);
  ReleaseLeftButton();
  ASSERT_EQ(mouse_.calls().size(), 2u);
  EXPECT_EQ(mouse_.calls()[1].flags, input::kMouseEventLeftUp);
}

}  // namespace
}  // namespace clickburst::Module1
