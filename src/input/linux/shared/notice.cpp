#include "input/linux/shared/notice.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "input/linux/shared/session_bus.h"
#include "runtime/socket_wait.h"

namespace clickburst::input {

void Notice(std::string_view text, SessionBus* bus) {
  std::fprintf(stderr, "clickburst: %.*s\n", static_cast<int>(text.size()), text.data());
  std::fflush(stderr);
  if (bus == nullptr || bus->get() == nullptr) {
    return;
  }
  constexpr const char* kName = "org.freedesktop.Notifications";
  const std::string body(text);
  // Notify(app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout): no
  // actions, no hints, the server's own timeout. A notice is no reason to fail.
  if (bus->Send(kName, "/org/freedesktop/Notifications", kName, "Notify", "susssasa{sv}i",
                "clickburst", std::uint32_t{0}, "clickburst", "clickburst", body.c_str(), 0, 0,
                std::int32_t{-1}) >= 0) {
    bus->FlushWithin(runtime::kSocketRoomWait);
  }
}

}  // namespace clickburst::input
