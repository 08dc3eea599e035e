// Module1: a click is exactly one press then one release, with no motion and no data; and the
// choice of the way in, from a table of fake rows.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "input/module1.h"
#include "input/way_in.h"
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

namespace clickburst::input {
namespace {

// Each fake row answers what `answers` holds for it and notes that it was asked.
std::vector<WayIn> answers;
std::string asked;
template <int kRow>
WayIn Answers(const SetUp&) {
  asked += std::to_string(kRow);
  return answers[kRow];
}
void Click(bool) {}

// The Linux table's shape: GNOME, KDE's two, then the portal, which asks the desktop.
constexpr WayInRow kTable[] = {{"gnome", &Answers<0>, true, false, true, 3},
                               {"fake input", &Answers<1>, true, false, false, 1},
                               {"eis", &Answers<2>, false, false, true, 1},
                               {"portal", &Answers<3>, true, true, false, 2}};

Choice Choose(std::vector<WayIn> rows, bool connected = true, std::string_view failure = "") {
  answers = std::move(rows);
  asked.clear();
  return ChooseWayIn(kTable, SetUp{{}, connected, 0, nullptr, ""}, failure, "none");
}

TEST(WayInChoice, NamesTheLowestRankJoinsEqualsAndAsksThePortalOnlyWhereNoDesktopRefused) {
  const WayIn absent;
  const WayIn clicks = Clicks(&Click, nullptr);
  EXPECT_EQ(Choose({absent, absent, absent, clicks}).chosen.click, &Click);
  EXPECT_EQ(asked, "0123");
  EXPECT_EQ(Choose({absent, Refusal(Answer::kRefused, "install"), absent, absent}).reason,
            "install");
  EXPECT_EQ(asked, "0123");  // a KWin that refuses an uninstalled program may still have a portal
  const Choice refused =
      Choose({Refusal(Answer::kOtherDesktop, "gnome's"), Refusal(Answer::kRefused, "install"),
              Refusal(Answer::kTimedOut, SetUpOverrun("KWin's EIS")), clicks});
  EXPECT_EQ(asked, "012");
  EXPECT_EQ(refused.chosen.click, nullptr);
  EXPECT_EQ(
      refused.reason,
      "install; and KWin's EIS did not answer within the 2000 ms clickburst gives its set-up");
  EXPECT_EQ(Choose({absent, absent, absent, absent}).reason, "none");
  EXPECT_EQ(Choose({absent, absent, Refusal(Answer::kOtherDesktop, "another"), clicks}, false,
                   "no compositor")
                .reason,
            "no compositor");
  EXPECT_EQ(asked, "2");  // without the compositor only what needs none is asked
}

}  // namespace
}  // namespace clickburst::input
