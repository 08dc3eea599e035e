// Module1: a click is exactly one press then one release, with no motion and no data.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "input/module1.h"
#include "support/test_support.h"
#include "support/virtual_driver.h"

namespace clickburst::Module1 {
namespace {

TEST(Module1, ClickIsOnePressThenOneReleaseAtThePointer) {
  clickburst::testing::VirtualDriver time;
  clickburst::testing::MouseRecorder mouse{time};
  // The user32 values of MOUSEEVENTF_LEFTDOWN and MOUSEEVENTF_LEFTUP, every other argument 0.
  const clickburst::testing::MouseCall press{0x0002u, 0, 0, 0, 0, {}};
  const clickburst::testing::MouseCall release{0x0004u, 0, 0, 0, 0, {}};
  ClickLeftButton();
  EXPECT_THAT(mouse.calls(), ::testing::ElementsAre(press, release));
}

}  // namespace
}  // namespace clickburst::Module1
