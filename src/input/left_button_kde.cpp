// KDE (KWin): org_kde_kwin_fake_input.
#include "input/left_button.h"

namespace clickburst::input {

LeftButtonRoutine OpenFakeInput(std::string& /*refusal*/) { return nullptr; }

}  // namespace clickburst::input
