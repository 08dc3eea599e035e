// mutter_remote_access: preloaded into a headless mutter (LD_PRELOAD), it gives a test the two
// ways GNOME Shell ends a remote-desktop session, on a signal: SIGUSR1 is the indicator's Stop
// (every session's handle stopped), SIGUSR2 the screen lock (remote access inhibited,
// which closes every session and refuses new ones with "Session creation inhibited"). Both
// run on mutter's main loop. Mutter's and GLib's functions are bound by name from the process,
// so no mutter headers are needed; the functions used are the ones GNOME Shell calls.
//
// Usage: LD_PRELOAD=libmutter_remote_access.so mutter --headless ...; kill -USR1 <mutter>
#include <dlfcn.h>

#include <csignal>
#include <cstdlib>
#include <vector>

namespace {

// By name: Xwayland, which inherits LD_PRELOAD, has none of them.
template <class Signature>
Signature* Bound(const char* name) {
  return reinterpret_cast<Signature*>(dlsym(RTLD_DEFAULT, name));
}

using GSourceFunc = int (*)(void*);
void* g_controller = nullptr;
std::vector<void*> g_handles;

void OnNewHandle(void* /*controller*/, void* handle, void* /*data*/) {
  g_handles.push_back(Bound<void*(void*)>("g_object_ref")(handle));
}

int StopEverySession(void*) {
  for (void* handle : g_handles) {
    Bound<void(void*)>("meta_remote_access_handle_stop")(handle);
  }
  return 1;  // G_SOURCE_CONTINUE
}

int LockScreen(void*) {
  Bound<void(void*)>("meta_remote_access_controller_inhibit_remote_access")(g_controller);
  return 1;
}

}  // namespace

// Mutter's main() calls it once everything is set up, and it returns when mutter ends.
extern "C" int meta_context_run_main_loop(void* context, void** error) {
  unsetenv("LD_PRELOAD");
  void* backend = Bound<void*(void*)>("meta_context_get_backend")(context);
  g_controller = Bound<void*(void*)>("meta_backend_get_remote_access_controller")(backend);
  Bound<unsigned long(void*, const char*, void (*)(), void*, void*, int)>("g_signal_connect_data")(
      g_controller, "new-handle", reinterpret_cast<void (*)()>(&OnNewHandle), nullptr, nullptr, 0);
  const auto on_signal = Bound<unsigned(int, GSourceFunc, void*)>("g_unix_signal_add");
  on_signal(SIGUSR1, &StopEverySession, nullptr);
  on_signal(SIGUSR2, &LockScreen, nullptr);
  static const auto run =
      reinterpret_cast<int (*)(void*, void**)>(dlsym(RTLD_NEXT, "meta_context_run_main_loop"));
  return run(context, error);
}
