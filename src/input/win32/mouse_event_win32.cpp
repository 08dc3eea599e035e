// Windows: user32's own mouse_event, looked up by name on the first click so that the
// import table never names it.
#include <windows.h>

#include "input/mouse_event.h"
#include "runtime/end_program.h"
#include "runtime/late_binding.h"

namespace clickburst::input {
namespace {

static_assert(kMouseEventLeftDown == MOUSEEVENTF_LEFTDOWN);
static_assert(kMouseEventLeftUp == MOUSEEVENTF_LEFTUP);

using MouseEventSignature = VOID WINAPI(DWORD, DWORD, DWORD, DWORD, ULONG_PTR);

runtime::DeclaredRoutine<MouseEventSignature> g_mouse_event{"user32", "mouse_event"};

}  // namespace

void WindowShown(std::string_view /*what_clicks*/) {}

void SendMouseEvent(std::uint32_t flags, std::uint32_t dx, std::uint32_t dy, std::uint32_t data,
                    std::uintptr_t extra_info) {
  if (runtime::ClickInputEnded()) {
    return;
  }
  g_mouse_event.Get()(flags, dx, dy, data, extra_info);
}

}  // namespace clickburst::input
