// GNOME (mutter): an org.gnome.Mutter.RemoteDesktop session on the session bus.
#include "input/left_button.h"

namespace clickburst::input {

LeftButtonRoutine OpenRemoteDesktopSession(std::string& /*refusal*/) { return nullptr; }

}  // namespace clickburst::input
